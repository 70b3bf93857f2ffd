#include <stdio.h>
#include <zorbex/zorbex.h>
#include <zorbex/window.h>
int main(void) {
    ZbxWindow w = ZbxWin_CreateMessageWindow();
    ZbxHandle h = Zorbex_Initialize(w);
    printf("version %d handle %s width %d\n", Zorbex_GetDllVersion(), h ? "ok" : "0", Zorbex_Width(h));
    Zorbex_Release(h);
    ZbxWin_DestroyWindow(w);
    return 0;
}
