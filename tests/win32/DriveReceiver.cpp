// The GPS receiver of the Windows end-to-end drive (tests/win32/drive.wine.sh), on Linux: writes
// the drive's sensor file, prints its pseudo-terminal's path, and once the program has made its
// logs in FOLDER/logs plays the drive at the receiver's pace, so the Linux and the Windows
// program see the same sentences the same way. Prints "played N" when the last sentence is out,
// then holds the port open until it is terminated.
//
//   ostrim_drive_receiver loop|back-and-forth FOLDER

#include "tests/support/DriveScript.h"
#include "tests/support/ScratchFolder.h"
#include "tools/sim/GpsReceiverSim.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

using namespace std::chrono_literals;

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: ostrim_drive_receiver loop|back-and-forth FOLDER\n");
        return 2;
    }
    const std::string mode = argv[1];
    const std::string folder = argv[2];
    const ostrim::test::DriveScript drive =
        mode == "loop" ? ostrim::test::LoopDrive() : ostrim::test::BackAndForthDrive();
    ostrim::test::WriteFile(folder + "/sensors.txt", ostrim::test::DriveScript::SensorFileText());
    if (!drive.WriteCapture(folder + "/drive.nmea")) {
        std::fprintf(stderr, "ostrim_drive_receiver: cannot write the drive\n");
        return 1;
    }

    ostrim::sim::GpsReceiverSim gps;
    std::string error;
    if (!gps.Start(&error)) {
        std::fprintf(stderr, "ostrim_drive_receiver: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", gps.DevicePath().c_str());
    std::fflush(stdout);

    const std::string logs = folder + "/logs";
    for (auto end = std::chrono::steady_clock::now() + 120s;
         ostrim::test::FindLog(logs, "-GPS-Data.txt").empty() ||
         ostrim::test::FindLog(logs, "-Raw-GPS-Data.txt").empty();) {
        if (std::chrono::steady_clock::now() > end) {
            std::fprintf(stderr, "ostrim_drive_receiver: no logs in %s\n", logs.c_str());
            return 1;
        }
        std::this_thread::sleep_for(20ms);
    }
    if (!gps.PlayFile(folder + "/drive.nmea", ostrim::test::DriveScript::kRate, &error)) {
        std::fprintf(stderr, "ostrim_drive_receiver: %s\n", error.c_str());
        return 1;
    }
    while (!gps.Finished())
        std::this_thread::sleep_for(20ms);
    std::printf("played %zu\n", drive.Fixes());
    std::fflush(stdout);
    for (;;)
        std::this_thread::sleep_for(1s);
}
