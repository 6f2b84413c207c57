#include "instance/paired_product.h"

#include "launcher/command_line.h"
#include "launcher/launcher.h"

bool pairLaunchAllowed(const Launcher& launcher) {
    return !launcher.pairProduct.empty() && !launcher.startedByPartner;
}

WideString commandLineRemainder(const WideString& commandLine) {
    WideString line = trimWhiteSpace(commandLine);
    if (line.empty()) return WideString();
    size_t end;
    if (line[0] == u'"') {
        size_t close = line.find(u'"', 1);
        if (close == WideString::npos) return WideString();
        end = close + 1;
    } else {
        end = line.find(u' ');
        if (end == WideString::npos) return WideString();
    }
    while (end < line.size() && line[end] == u' ') ++end;
    return line.substr(end);
}

WideString pairedCommandLine(const WideString& program, const WideString& ownCommandLine) {
    return u"\"" + program + u"\" " + commandLineRemainder(ownCommandLine);
}

bool isPartnerExecutable(const uint8_t* data, size_t size) {
    uint16_t machine = 0;
    if (!imageMachine(data, size, machine) || machine != kPartnerMachine) return false;
    // imageMachine has checked that the whole file header lies in the bytes.
    size_t fileHeader = (static_cast<size_t>(data[0x3C]) | (static_cast<size_t>(data[0x3D]) << 8) |
                         (static_cast<size_t>(data[0x3E]) << 16) | (static_cast<size_t>(data[0x3F]) << 24)) + 4;
    const size_t kCharacteristics = 18;
    uint16_t characteristics = static_cast<uint16_t>(data[fileHeader + kCharacteristics] |
                                                     (data[fileHeader + kCharacteristics + 1] << 8));
    const uint16_t kExecutableImage = 0x0002;
    const uint16_t kDynamicLibrary = 0x2000;
    return (characteristics & kExecutableImage) && !(characteristics & kDynamicLibrary);
}
