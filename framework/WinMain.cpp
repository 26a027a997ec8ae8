// The process entry of the tool: hands over to the framework.
#include "framework/Framework.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return AfxWinMain(instance);
}
