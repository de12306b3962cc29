// Ostrim: switches roadside sensor nodes as a test vehicle passes them, and logs its GPS track.

#include "app/qt/RunDialog.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    ostrim::DialogOptions options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) {
            options.screenshot = argv[++i];
        }
    }
    return ostrim::RunDialog(argc, argv, options);
}
