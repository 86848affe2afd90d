// A program that does nothing for a second: the memory any program takes under the same Wine,
// against which the engine's peak is read.
#include <windows.h>

int main(void)
{
    Sleep(1000);
    return 0;
}
