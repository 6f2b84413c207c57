#include "runtime/missing_runtime.h"

#include "instance/paired_product.h"
#include "launcher/launcher.h"
#include "launcher/launcher_settings.h"
#include "launcher/settings.h"
#include "runtime/pe_image.h"
#include "runtime/runtime_layout.h"
#include "runtime/runtime_search.h"
#include "support/message_texts.h"
#include "support/messages.h"
#include "support/platform.h"

static const char16_t* const kRuntimeSection = u"Java Runtime Environment";
static const char16_t* const kJrePathKey = u"JRE Path";

static WideString format(MessageId id, const List<MessageArgument>& arguments) {
    return formatMessage(platform::messageText(id), arguments);
}

static MessageArgument text(const WideString& value) {
    MessageArgument argument;
    argument.text = value;
    return argument;
}

WideString versionPhrase(const Launcher& launcher) {
    const RuntimeVersion& minimum = launcher.minimumVersion;
    const RuntimeVersion& maximum = launcher.maximumVersion;
    bool noMinimum = isUnbounded(minimum);
    bool noMaximum = isUnbounded(maximum);
    if (noMinimum && noMaximum) return platform::messageText(MsgLatestVersion);
    if (noMinimum) return format(MsgMaximumVersion, {text(versionText(maximum))});
    if (noMaximum) return format(MsgMinimumVersion, {text(versionText(minimum))});
    if (sameVersion(minimum, maximum)) return format(MsgVersionRequired, {text(versionText(minimum))});
    return format(MsgVersionBetween, {text(versionText(minimum)), text(versionText(maximum))});
}

WideString missingRuntimeMessage(const Launcher& launcher) {
    MessageId id = launcher.jvmType == 1 ? MsgJreNotFoundServer : MsgJreNotFound;
    return format(id, {text(versionPhrase(launcher))});
}

MissingRuntimeDialog::MissingRuntimeDialog(const Launcher& launcher)
    : jvmType(launcher.jvmType), message(missingRuntimeMessage(launcher)), paired(pairLaunchAllowed(launcher)) {}

bool MissingRuntimeDialog::pick(const WideString& folder) {
    runtimeFolder = folder;
    if (!runtimeFolder.endsWith(platform::kPathSeparator)) runtimeFolder += platform::kPathSeparator;
    jvmLibraryPath = findJvmLibrary(runtimeFolder, jvmType);
    // A saved pick that no build of the program can host would fail every
    // later launch with message 222, and the dialog would never come back.
    if (!jvmLibraryPath.empty() && !hostableLibrary(jvmLibraryPath, paired)) jvmLibraryPath.clear();
    return canConfirm();
}

uint16_t ownMachine() {
#if defined(_WIN64) || defined(__x86_64__)
    return kMachineAmd64;
#else
    return kMachineI386;
#endif
}

uint16_t partnerMachine() { return ownMachine() == kMachineAmd64 ? kMachineI386 : kMachineAmd64; }

bool hostableLibrary(const WideString& library, bool paired) {
    platform::ReadOnlyMapping image(library);
    uint16_t machine = 0;
    if (!image.isOpen() || !kRuntimeLayout.libraryMachine(image.data(), image.size(), machine)) return false;
    return machine == ownMachine() || (paired && machine == partnerMachine());
}

// A decimal number as the C library's wide-text reader takes it: leading
// blanks, an optional sign, then digits up to the first other character.
static int64_t leadingNumber(const WideString& part) {
    size_t at = 0;
    while (at < part.size() && (part[at] == u' ' || (part[at] >= u'\t' && part[at] <= u'\r'))) ++at;
    bool negative = false;
    if (at < part.size() && (part[at] == u'+' || part[at] == u'-')) negative = part[at++] == u'-';
    int64_t value = 0;
    // At most eleven characters: the value cannot overflow.
    for (; at < part.size() && part[at] >= u'0' && part[at] <= u'9'; ++at) value = value * 10 + (part[at] - u'0');
    return negative ? -value : value;
}

bool parseAnchorColour(const WideString& text, uint32_t& colour) {
    if (text.size() > kAnchorColourMaxLength) return false;
    size_t first = text.find(u',');
    if (first == WideString::npos) return false;
    size_t second = text.find(u',', first + 1);
    if (second == WideString::npos || second + 1 >= text.size()) return false;
    uint32_t red = static_cast<uint32_t>(leadingNumber(text.left(first))) & 0xFF;
    uint32_t green = static_cast<uint32_t>(leadingNumber(text.substr(first + 1, second - first - 1))) & 0xFF;
    uint32_t blue = static_cast<uint32_t>(leadingNumber(text.substr(second + 1))) & 0xFF;
    colour = red | (green << 8) | (blue << 16);
    return true;
}

// The settings file named after "Pair Product"; empty when that is empty.
static WideString pairSettingsPath(const Launcher& launcher) { return settingsPathFor(launcher.pairProduct); }

List<WideString> runtimeFolderTargets(Launcher& launcher) {
    List<WideString> targets;
    WideString own;
    bool ownKnown = settingsFilePath(launcher, own);
    bool perUser = platform::isNtFamily() && !launcher.isService;

    if (launcher.pairProduct.empty()) {
        // Without product name and code the per-user path collapses to one
        // file under APPDATA named after the executable, which unrelated
        // programs of the same name would share: the file beside the
        // executable takes the pick then.
        if (perUser && !launcher.productName.empty() && !launcher.productCode.empty()) {
            WideString copy = ownPerUserSettingsPath(launcher, true);
            if (!copy.empty()) targets.push_back(copy);
        } else if (ownKnown) {
            targets.push_back(own);
        }
        return targets;
    }

    WideString pair = pairSettingsPath(launcher);
    if (pair.empty()) return targets;
    if (perUser) {
        WideString copy = ownPerUserSettingsPath(launcher, true);
        if (!copy.empty()) targets.push_back(copy);
        targets.push_back(perUserSettingsPath(launcher, launcher.pairProduct, true));
    } else {
        targets.push_back(pair);
        // The launcher reads its own file too: without the pick there the
        // dialog would come back at every launch.
        if (ownKnown && own != pair) targets.push_back(own);
    }
    return targets;
}

JrePathSaved saveJrePath(JrePathStore& store, const WideString& folder, const WideString& shortFolder) {
    // A file the profile writer creates itself is ANSI and would lose the
    // characters of the folder outside that code page.
    if (!store.exists()) store.createUnicode();
    store.write(folder);
    if (store.read() == folder) return JrePathSaved::Exactly;
    if (!shortFolder.empty() && shortFolder != folder) {
        store.write(shortFolder);
        if (store.read() == shortFolder) return JrePathSaved::ShortForm;
    }
    // A mangled folder would only send the next search astray.
    store.remove();
    return JrePathSaved::Removed;
}

namespace {
class SettingsFileJrePath : public JrePathStore {
public:
    explicit SettingsFileJrePath(const WideString& path) : path_(path) {}
    bool exists() override { return platform::fileExists(path_); }
    void createUnicode() override { platform::createUnicodeFile(path_); }
    void write(const WideString& value) override { platform::writeProfileString(path_, kRuntimeSection, kJrePathKey, value); }
    WideString read() override { return SettingsFile(path_).read(kRuntimeSection, kJrePathKey); }
    void remove() override { platform::removeProfileString(path_, kRuntimeSection, kJrePathKey); }

private:
    WideString path_;
};
}  // namespace

void saveRuntimeFolder(Launcher& launcher, const WideString& folder) {
    WideString shortFolder;  // stays empty when the folder has no short name
    platform::shortPath(folder, shortFolder);
    for (const WideString& target : runtimeFolderTargets(launcher)) {
        SettingsFileJrePath store(target);
        saveJrePath(store, folder, shortFolder);
    }
}

WideString downloadAddress() { return WideString(u"" DOWNLOAD_ADDRESS); }

bool askForRuntime(Launcher& launcher) {
    // A console program cannot ask: it tells what the dialog would say.
    if (platform::consoleFlavour()) {
        platform::showErrorBox(nullptr, missingRuntimeMessage(launcher) + u"\n" + downloadAddress());
        return false;
    }
    MissingRuntimeDialog dialog(launcher);
    // OK is only enabled with a library; a confirmation without one (sent
    // from outside the dialog) cannot start anything.
    if (showMissingRuntimeDialog(dialog) != 1 || !dialog.canConfirm()) return false;
    launcher.jvmLibraryPath = dialog.jvmLibraryPath;
    launcher.runtimeVendor = RuntimeVendor::None;
    checkJvmMachine(launcher);
    saveRuntimeFolder(launcher, dialog.runtimeFolder);
    return true;
}
