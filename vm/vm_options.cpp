#include "vm/vm_options.h"

#include "launcher/command_line.h"
#include "launcher/environment.h"
#include "launcher/launcher.h"
#include "launcher/launcher_settings.h"
#include "launcher/settings.h"
#include "splash/splash.h"
#include "support/messages.h"
#include "support/platform.h"
#include "support/trace.h"
#include "vm/options_file.h"

static bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

List<WideString> splitVmParameters(const WideString& value) {
    List<WideString> options;
    size_t at = 0;
    const size_t n = value.size();
    for (;;) {
        while (at < n && value[at] == u' ') ++at;
        if (at >= n) break;
        size_t start = at;
        while (at < n && value[at] != u' ') {
            if (value[at] == u'"') {
                size_t close = value.find(u'"', at + 1);
                if (close == WideString::npos) {
                    // An unpaired quote opens nothing: the next blank ends the option.
                    ++at;
                    continue;
                }
                at = close + 1;
                if (at < n && value[at] == u'"') ++at;  // a doubled closing quote
                continue;
            }
            ++at;
        }
        options.push_back(value.substr(start, at - start));
    }
    return options;
}

WideString removeQuotes(const WideString& option) {
    WideString result;
    size_t at = 0;
    while (at < option.size()) {
        size_t open = option.find(u'"', at);
        size_t close = open == WideString::npos ? WideString::npos : option.find(u'"', open + 1);
        if (close == WideString::npos) {
            result += option.substr(at);
            break;
        }
        result += option.substr(at, open - at);
        result += option.substr(open + 1, close - open - 1);
        at = close + 1;
        if (at < option.size() && option[at] == u'"') {
            result += u'"';
            ++at;
        }
    }
    return result;
}

static bool startsWithMemoryOption(const WideString& option) {
    return option.startsWith(u"-Xms") || option.startsWith(u"-Xmx") || option.startsWith(u"-Xss");
}

bool isMemoryShare(const WideString& option) {
    if (!startsWithMemoryOption(option)) return false;
    char16_t unit = option.last();
    return unit == u'P' || unit == u'p' || unit == u'T' || unit == u't';
}

WideString applyMemoryShare(const WideString& option, const MemoryBases& bases) {
    if (!isMemoryShare(option)) return option;
    char16_t unit = option.last();

    size_t body = option.size() - 1;
    size_t begin = 0;
    while (begin < body && !isDigit(option[begin]) && option[begin] != u':') ++begin;
    WideString prefix = begin < body ? option.left(begin) : option;

    uint32_t numbers[3] = {0, 0, 0};
    size_t index = 0;
    for (size_t i = begin; i < body; ++i) {
        char16_t c = option[i];
        if (c == u':') {
            ++index;
        } else if (isDigit(c) && index < 3) {
            numbers[index] = numbers[index] * 10 + static_cast<uint32_t>(c - u'0');
        }
    }
    uint64_t percent = numbers[0];
    uint64_t minimumKiB = static_cast<uint64_t>(numbers[1]) * 1024;
    uint64_t maximumKiB = static_cast<uint64_t>(numbers[2]) * 1024;

    uint64_t baseKiB = ((unit == u'P' || unit == u'p') ? bases.physicalBytes : bases.availableVirtualBytes) >> 10;
    // 64-bit integer arithmetic: the free address space of a 64-bit process
    // is far beyond 32 bits, and a double would lose the low digits.
    uint64_t size = baseKiB / 100 * percent + baseKiB % 100 * percent / 100;
    if (maximumKiB != 0 && size > maximumKiB) size = maximumKiB;
    if (minimumKiB > size) size = minimumKiB;
    return prefix + decimalUnsigned(size) + u"K";
}

uint32_t stackSizeOf(const WideString& option) {
    if (!option.startsWith(u"-Xss")) return 0;
    WideString text = option.substr(4);
    if (text.empty() || !isDigit(text[0])) return 0;
    uint64_t multiplier = 1;
    size_t digits = text.size();
    switch (text.last()) {
        case u'k': case u'K': multiplier = 1024; --digits; break;
        case u'm': case u'M': multiplier = 1048576; --digits; break;
        case u'g': case u'G': multiplier = 1073741824; --digits; break;
        default: break;
    }
    uint64_t number = 0;
    for (size_t i = 0; i < digits; ++i) {
        if (!isDigit(text[i])) return 0;
        number = number * 10 + static_cast<uint64_t>(text[i] - u'0');
        if (number > 0xFFFFFFFFull) return 0;
    }
    uint64_t bytes = number * multiplier;
    return bytes > 0xFFFFFFFFull ? 0 : static_cast<uint32_t>(bytes);
}

// Options the java command takes with their value as the next word; the
// invocation interface takes only the joined form.
static const char16_t* const kOptionsWithValue[] = {
    u"--add-opens",   u"--add-exports",         u"--add-reads",   u"--add-modules",           u"--limit-modules",
    u"--module-path", u"--upgrade-module-path", u"--patch-module", u"--enable-native-access",
};
// What makes the runtime end the process while it starts, instead of
// running the program (a help text, an archive's dump): never from an
// options file, where it would lock the user out.
static const char16_t* const kEndingOptions[] = {
    u"-Xshare:dump", u"-Xlog:help", u"-XX:+PrintFlagsRanges",
};
// What the launcher itself decides: the class path and the main class.
static const char16_t* const kSettingsOptions[] = {
    u"-cp", u"-classpath", u"--class-path", u"-jar", u"-m", u"--module",
};

static bool namesOption(const WideString& option, const char16_t* name) {
    return option == name || (option.startsWith(name) && option[WideString(name).size()] == u'=');
}

bool optionTakesNextWord(const WideString& option) {
    if (option == u"-p") return true;
    for (const char16_t* name : kOptionsWithValue)
        if (option == name) return true;
    // The launcher's own, which the java command also takes with a value.
    for (const char16_t* name : kSettingsOptions)
        if (option == name) return true;
    return false;
}

// The options as the java command takes them. With file set, what would be
// refused is left out with a trace line instead, and the result is true.
static bool takeJavaCommandOptions(const List<WideString>& options, List<WideString>& result, WideString& offending,
                                   bool& missingValue, const WideString* file) {
    for (size_t i = 0; i < options.size(); ++i) {
        const WideString& option = options[i];
        bool belongsToSettings = file && option.startsWith(u"-Djava.class.path=");
        for (const char16_t* name : kSettingsOptions) belongsToSettings = belongsToSettings || namesOption(option, name);
        if (belongsToSettings) {
            if (!file) {
                offending = option;
                missingValue = false;
                return false;
            }
            TRACE_EVENT("vm option").field("refused", option).field("file", *file)
                .field("reason", "the class path and the main class are the settings file's");
            // Its value goes with it: "-cp" then "/x" on the next line.
            if (optionTakesNextWord(option) && i + 1 < options.size()) ++i;
            continue;
        }
        bool ends = false;
        for (const char16_t* name : kEndingOptions) ends = ends || (file && option == name);
        if (ends) {
            TRACE_EVENT("vm option").field("refused", option).field("file", *file)
                .field("reason", "the runtime would end instead of running the program");
            continue;
        }
        if (option == u"-server" || option == u"-client") {
            TRACE_EVENT("vm option").field("dropped", option).field("reason", "the java command ignores it");
            continue;
        }
        if (!optionTakesNextWord(option)) {
            result.push_back(option);
            continue;
        }
        if (i + 1 >= options.size()) {
            if (!file) {
                offending = option;
                missingValue = true;
                return false;
            }
            TRACE_EVENT("vm option").field("refused", option).field("file", *file).field("reason", "no value after it");
            continue;
        }
        WideString joined = option == u"-p" ? WideString(u"--module-path") : option;
        result.push_back(joined + u"=" + options[++i]);
    }
    return true;
}

bool javaCommandOptions(const List<WideString>& options, List<WideString>& result, WideString& offending,
                        bool& missingValue) {
    return takeJavaCommandOptions(options, result, offending, missingValue, nullptr);
}

List<WideString> optionsFileOptions(const List<WideString>& lines, const WideString& file) {
    List<WideString> result;
    WideString offending;
    bool missingValue = false;
    takeJavaCommandOptions(lines, result, offending, missingValue, &file);
    return result;
}

WideString javaCommandProperty(const WideString& mainClass, const List<WideString>& arguments,
                               const List<WideString>& options) {
    for (const WideString& option : options)
        if (option.startsWith(u"-Dsun.java.command=")) return WideString();
    WideString property = u"-Dsun.java.command=" + mainClass;
    property.replaceAll(u'/', u'.');
    for (const WideString& argument : arguments) property += u" " + argument;
    return property;
}

// Appends the matches of a directory search, each with its folder and the
// list separator.
static void appendMatches(WideString& classPath, const WideString& pattern, const WideString& folder) {
    for (const WideString& name : platform::findFiles(pattern)) classPath += folder + name + platform::kListSeparator;
}

static WideString composeClassPath(Launcher& launcher, SettingsStore& settings) {
    WideString launcherFolder;
    WideString module;
    bool haveFolder = false;
    if (platform::modulePath(module)) {
        size_t slash = module.findLast(platform::kPathSeparator);
        launcherFolder = slash == WideString::npos ? WideString() : module.left(slash);
        haveFolder = true;
    }

    WideString classPath;
    for (WideString entry : settingsList(settings.read(u"Class Path", u"Class Path"))) {
        // An empty entry names nothing; it must not add the launcher's folder.
        if (entry.empty()) continue;
        expandEnvironment(entry);
        PathForm form = settingsPathForm(entry);
        if (!settingsPath(entry, u"Class Path")) continue;
        bool absolute = form == PathForm::Absolute;
        bool wildcard = entry.find(u'*') != WideString::npos;
        if (absolute && !wildcard) {
            classPath += entry + platform::kListSeparator;
            continue;
        }
        size_t slash = entry.findLast(platform::kPathSeparator);
        WideString entryFolder = slash == WideString::npos ? WideString() : entry.left(slash + 1);
        if (absolute) {
            appendMatches(classPath, entry, entryFolder);
        } else if (haveFolder) {
            WideString folder = launcherFolder;
            if (platform::kRelativeEntriesInFolder && !entry.startsWith(WideString(&platform::kPathSeparator, 1)))
                folder += platform::kPathSeparator;
            appendMatches(classPath, folder + entry, folder + entryFolder);
        }
    }

    if (settings.read(u"Application", u"Embedded Jar").equalsIgnoreAsciiCase(u"Yes")) {
        WideString self;
        if (modulePath(launcher, self)) {
            if (!classPath.empty() && !classPath.endsWith(platform::kListSeparator))
                classPath += platform::kListSeparator;
            classPath += self;
        }
    }
    // The runtime reads an empty last entry as the current directory, which
    // may be a downloaded document's folder: the list ends with its last item.
    if (classPath.endsWith(platform::kListSeparator)) classPath = classPath.left(classPath.size() - 1);
    return classPath;
}

// One options file's options, appended; how many. A missing file is none.
static size_t appendOptionsFile(const WideString& path, List<WideString>& options) {
    if (path.empty() || !platform::fileExists(path)) return 0;
    platform::ReadOnlyMapping file(path);
    if (!file.isOpen()) return 0;
    NarrowString bytes(reinterpret_cast<const char*>(file.data()), file.size());
    List<WideString> taken = optionsFileOptions(optionsFileLines(bytes), path);
    TRACE_EVENT("options file").field("path", path).field("options", static_cast<int64_t>(taken.size()));
    for (const WideString& option : taken) options.push_back(option);
    return taken.size();
}

// After the settings' options: the shipped file's, then the user's, so that
// the user's -Xmx wins (the runtime takes the last).
static void readOptionsFiles(Launcher& launcher, List<WideString>& options) {
    WideString module;
    if (!platform::modulePath(module)) return;
    appendOptionsFile(besideOptionsPath(module), options);
    launcher.userOptionsFile = userOptionsPath(platform::perUserSettingsFolder(), module, launcher.productName,
                                               launcher.productCode);
    if (!launcher.again.withoutUserOptions) {
        launcher.userFileOptions = appendOptionsFile(launcher.userOptionsFile, options);
        return;
    }
    // The runtime refused this file's options in the launch before: the
    // program starts without them, and the user learns why once the virtual
    // machine is up (where it fails without them too, they were not the cause).
    TRACE_EVENT("options file").field("path", launcher.again.file).field("result", "left out: the runtime refused it");
}

bool buildVmOptions(Launcher& launcher) {
    WideString path;
    if (!settingsFilePath(launcher, path)) return false;
    LayeredSettingsFile layered(path, builtInSettingsText());
    SettingsStore& settings = static_cast<SettingsFile&>(layered);

    WideString classPath = composeClassPath(launcher, settings);
    if (classPath.empty()) {
        reportError(errorBoxOwner(launcher), LaunchError::plain(MsgNoClassPath));
        return false;
    }

    List<WideString> written;
    for (const WideString& raw : splitVmParameters(settings.read(u"Java Runtime Environment",
                                                                 u"Virtual Machine Parameters")))
        written.push_back(removeQuotes(raw));
    List<WideString> given;
    WideString offending;
    bool missingValue = false;
    if (!javaCommandOptions(written, given, offending, missingValue)) {
        reportError(errorBoxOwner(launcher),
                    LaunchError::named(missingValue ? MsgOptionWithoutValue : MsgOptionOfTheSettings, offending));
        return false;
    }

    readOptionsFiles(launcher, given);

    List<WideString> options;
    options.push_back(u"-Djava.class.path=" + classPath);
    // The memory status is asked for only when an option needs it.
    MemoryBases bases;
    bool basesKnown = false;
    for (WideString option : given) {
        if (isMemoryShare(option)) {
            if (!basesKnown) bases = MemoryBases{platform::totalPhysicalMemory(), platform::availableVirtualMemory()};
            basesKnown = true;
            option = applyMemoryShare(option, bases);
        }
        if (option.startsWith(u"-Xss")) launcher.threadStackSize = stackSizeOf(option);
        options.push_back(option);
    }
    launcher.classPath = classPath;
    for (size_t i = 0; i < options.size(); ++i) {
        WideString option = options[i];
        expandEnvironment(option);
        launcher.vmOptions.push_back(platform::toAnsi(option));
        if (i > 0) launcher.userVmOptions.push_back(option);
    }

    launcher.outputFile = settings.read(u"Application", u"Output File");
    if (!launcher.outputFile.empty()) expandEnvironment(launcher.outputFile);
    settingsPath(launcher.outputFile, u"Output File");
    launcher.errorFile = settings.read(u"Application", u"Error File");
    if (!launcher.errorFile.empty()) expandEnvironment(launcher.errorFile);
    settingsPath(launcher.errorFile, u"Error File");
    launcher.extraArguments = settings.read(u"Application", u"Cmd");
    if (!launcher.extraArguments.empty()) {
        expandEnvironment(launcher.extraArguments);
        for (const WideString& argument : splitCommandLine(launcher.extraArguments))
            if (!argument.empty()) launcher.arguments.push_back(argument);
    }
    // Not part of the options the start-up cache sees: the arguments change
    // from launch to launch.
    WideString command = javaCommandProperty(launcher.mainClass, launcher.arguments, launcher.userVmOptions);
    if (!command.empty()) launcher.vmOptions.push_back(platform::toAnsi(command));
    // Where the program may write the user's options (the file need not exist).
    if (!launcher.userOptionsFile.empty())
        launcher.vmOptions.push_back(platform::toAnsi(u"-Dveda.launcher.vmoptions=" + launcher.userOptionsFile));
    return true;
}
