"""Frames: shape and dtype per colour mode, the same pixels the C API
delivers, owned by the caller; streaming, trigger mode, saving, recording."""
import ctypes

import numpy as np
import pytest

import zorbex
from conftest import SLOT

SHAPES = {"mono8": (np.uint8, ()), "mono16": (np.uint16, ()), "bgr24": (np.uint8, (3,)),
          "bgra32": (np.uint8, (4,)), "bgr48": (np.uint16, (3,)), "bgra64": (np.uint16, (4,))}


def c_snapshot(cam, nbytes):
    """A frame taken through the C function directly, for comparison."""
    buffer = ctypes.create_string_buffer(nbytes)
    assert cam._lib.Zorbex_SnapShot(cam.handle, buffer, nbytes, 1) == 1
    return buffer.raw


@pytest.mark.parametrize("mode", list(SHAPES))
@pytest.mark.parametrize("window", [(0, 0, 1280, 720), (3, 5, 641, 333)])
def test_snap_matches_the_c_api_and_its_raw_file(cam, mode, window, tmp_path):
    cam.color_mode = mode
    cam.capture_window = window
    frame = cam.snap()
    dtype, channels = SHAPES[mode]
    assert frame.dtype == dtype and frame.shape == (window[3], window[2]) + channels
    assert frame.color_mode == mode and frame.number == 1
    # The C API's copy of the same (still) scene, rows padded to 4 bytes.
    row = frame.shape[1] * frame.itemsize * (channels[0] if channels else 1)
    stride = (row + 3) & ~3
    raw = np.frombuffer(c_snapshot(cam, stride * window[3]), np.uint8).reshape(window[3], stride)
    assert np.array_equal(np.ascontiguousarray(frame).view(np.uint8).reshape(window[3], row),
                          raw[:, :row])
    # The library's own raw dump of that frame holds the same rows.
    cam.save(tmp_path / "frame.raw")
    dump = np.fromfile(tmp_path / "frame.raw", np.uint8).reshape(window[3], stride)
    assert np.array_equal(dump, raw)


@pytest.mark.parametrize("mode", list(SHAPES))
@pytest.mark.parametrize("window", [(0, 0, 1280, 720), (3, 5, 641, 333)])
def test_streamed_frames_are_whole_frames(cam, mode, window):
    cam.color_mode = mode
    cam.capture_window = window
    still = cam.snap()
    zorbex.vcam.set_paced(SLOT, False)
    cam.wait_time_ms = 0
    # A second stream starts while the library still names the first one's buffer.
    frames = list(cam.stream(count=4)) + list(cam.stream(count=4))
    # Of a still scene every frame handed out is the snapshot's, pixel for pixel.
    for frame in frames:
        assert frame.shape == still.shape and frame.dtype == still.dtype
        assert np.array_equal(frame, still)


def test_frames_are_owned_by_the_caller(cam):
    zorbex.vcam.set_scene(SLOT, "chart", moving=True)
    with cam.stream() as stream:
        first = next(stream)
        kept = first.copy()
        later = [next(stream) for _ in range(4)]
    # The square moved between frames, and the first frame kept its pixels.
    assert not np.array_equal(first, later[-1])
    assert np.array_equal(first, kept) and first.flags.writeable
    assert not any(np.shares_memory(first, other) for other in later)
    assert not np.shares_memory(cam.snap(), later[-1])


# Ways to hold on to part of a frame after the frame itself is dropped.
HOLDERS = {
    "view": lambda frame: frame[400:560],
    "plain array": lambda frame: frame.view(np.ndarray),
    "memoryview": memoryview,
    "memory object": lambda frame: frame.base,
}


@pytest.mark.parametrize("hold", list(HOLDERS.values()), ids=list(HOLDERS))
def test_what_is_kept_of_a_frame_is_never_overwritten(cam, hold):
    zorbex.vcam.set_scene(SLOT, "chart", moving=True)
    zorbex.vcam.set_paced(SLOT, False)
    cam.wait_time_ms = 0
    kept = []
    for index, frame in enumerate(cam.stream(count=24)):
        if index % 4 == 0:
            held = hold(frame)
            kept.append((held, np.array(held, copy=True)))
    # The square moved while the stream went on, and what was kept of each
    # frame kept its pixels, also after the frames themselves were gone.
    assert len({item.tobytes() for _, item in kept}) > 2
    for held, copy in kept:
        assert np.array_equal(np.asarray(held), copy)


def test_a_frame_dropped_after_its_stream_ended_does_not_restart_it(cam):
    with cam.stream() as stream:
        first = next(stream)
        second = next(stream)
    del first, second
    assert not cam.streaming
    cam.snap()  # refused while the library streams


def test_stream_counts_frames_and_drops(cam):
    zorbex.vcam.set_paced(SLOT, False)
    cam.wait_time_ms = 0
    stream = cam.stream(count=30)
    frames = list(stream)
    assert len(frames) == stream.frames == 30 and not stream.running
    numbers = [f.number for f in frames]
    assert numbers == sorted(set(numbers))
    # Every announced frame is either handed out or counted as dropped.
    assert numbers[-1] == 30 + stream.dropped == 30 + sum(f.dropped for f in frames)
    assert all(b.timestamp >= a.timestamp for a, b in zip(frames, frames[1:]))
    assert not cam.streaming
    cam.snap()  # the stream is over: the camera is idle again


def test_leaving_the_loop_stops_the_stream(cam):
    for frame in cam.stream():
        break
    assert not cam.streaming
    assert cam.snap().shape == frame.shape


def test_stream_without_frames_times_out(cam):
    zorbex.vcam.stop_frames(SLOT)
    with pytest.raises(zorbex.FrameTimeoutError) as caught:
        next(iter(cam.stream(timeout=0.3)))
    assert isinstance(caught.value, TimeoutError) and caught.value.code == 13
    assert not cam.streaming


def test_trigger_mode(cam):
    # The camera has no software trigger; the virtual camera's input is pulsed.
    assert not hasattr(cam, "trigger")
    cam.trigger_mode = True
    zorbex.vcam.fire_trigger(SLOT)
    frame = cam.wait_trigger()
    assert frame.shape == (720, 1280, 3)
    with pytest.raises(zorbex.FrameTimeoutError):
        cam.wait_trigger(timeout=0.2)
    zorbex.vcam.fire_trigger(SLOT)
    assert np.array_equal(cam.wait_trigger(), frame)
    cam.trigger_mode = False
    with pytest.raises(zorbex.ZorbexError, match="trigger_mode is off"):
        cam.wait_trigger()


@pytest.mark.parametrize("name, magic", [
    ("f.bmp", b"BM"), ("f.png", b"\x89PNG"), ("f.jpg", b"\xff\xd8"), ("f.tif", b"II*\x00"),
    ("f.data", b"BM"),
])
def test_save_picks_the_format_from_the_extension(cam, tmp_path, name, magic):
    frame = cam.snap()
    cam.save(tmp_path / name, format="bmp" if name.endswith(".data") else None)
    assert (tmp_path / name).read_bytes().startswith(magic)
    if name.endswith((".png", ".bmp")):
        cv2 = pytest.importorskip("cv2")
        assert np.array_equal(cv2.imread(str(tmp_path / name)), frame)


def test_save_errors(cam, tmp_path):
    with pytest.raises(zorbex.ZorbexError) as caught:
        cam.save(tmp_path / "early.png")  # no frame yet
    assert caught.value.code == zorbex.errors.ERR_NOT_READY
    cam.snap()
    with pytest.raises(ValueError, match="format must be one of"):
        cam.save(tmp_path / "f.gif")
    with pytest.raises(zorbex.ZorbexError, match="could not save"):
        cam.save(tmp_path / "missing" / "f.png")


def test_record_writes_an_avi(cam, tmp_path):
    zorbex.vcam.set_paced(SLOT, False)
    count = cam.record(tmp_path / "clip.avi", 0.5)
    data = (tmp_path / "clip.avi").read_bytes()
    assert data[:4] == b"RIFF" and data[8:12] == b"AVI " and count > 0
    assert data.count(b"00db") >= count
    assert not cam.streaming
    cam.snap()
