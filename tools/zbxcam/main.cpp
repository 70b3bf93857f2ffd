// zbxcam: try the Zorbex camera SDK from a terminal.
#include <cstdio>

#include "zorbex/zorbex.h"

int main() {
    int version = Zorbex_GetDllVersion();
    std::printf("ZorbexSdk_530RD_NQT version %d (0x%08X)\n", version, static_cast<unsigned>(version));
    return 0;
}
