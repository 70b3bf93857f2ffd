// The shared library is the whole core archive; this file only gives the
// target a source of its own.
