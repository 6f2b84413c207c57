// Stand-in Java runtime for end-to-end tests: a jvm.dll that the launcher loads
// in place of a real runtime. It serves the invocation API and the handful of
// JNI functions the launcher uses against a small scripted set of classes, and
// writes every interesting event as one JSON line to a record file so tests can
// check exactly what the launcher asked for. Any JNI function outside that set
// terminates the process with exit code 97, so an unplanned call never passes
// silently. Objects are never freed: the process is short-lived.

#define _JNI_IMPLEMENTATION_
#include <windows.h>

#include <jni.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "jni_slot_names.h"

namespace {

// The JNI 1.1 default-arguments record; current jni.h no longer declares it.
struct JDK1_1InitArgs {
    jint version;
    char** properties;
    jint checkSource;
    jint nativeStackSize;
    jint javaStackSize;
    jint minHeapSize;
    jint maxHeapSize;
    jint verifyMode;
    char* classpath;
    jint(JNICALL* vfprintf)(FILE*, const char*, va_list);
    void(JNICALL* exit)(jint);
    void(JNICALL* abort)(void);
    jint enableClassGC;
    jint enableVerboseGC;
    jint disableAsyncGC;
    jint verbose;
    jboolean debugging;
    jint debugPort;
};

constexpr int kLoudExit = 97;

// ---------------------------------------------------------------------------
// Text conversions. Java strings are kept as UTF-16 code units.

std::string utf16_to_utf8(const std::u16string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // unpaired surrogate
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Decodes standard UTF-8 and also the modified form JNI uses (C0 80 for NUL,
// surrogates encoded one by one), so either kind of input round-trips.
std::u16string utf8_to_utf16(const char* p, size_t n) {
    std::u16string out;
    const auto* s = reinterpret_cast<const unsigned char*>(p);
    size_t i = 0;
    auto cont = [&](size_t k) { return i + k < n && (s[i + k] & 0xC0) == 0x80; };
    while (i < n) {
        unsigned char b = s[i];
        uint32_t c;
        if (b < 0x80) {
            c = b;
            i += 1;
        } else if ((b & 0xE0) == 0xC0 && cont(1)) {
            c = ((b & 0x1F) << 6) | (s[i + 1] & 0x3F);
            i += 2;
        } else if ((b & 0xF0) == 0xE0 && cont(1) && cont(2)) {
            c = ((b & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
            i += 3;
        } else if ((b & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
            c = ((b & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) |
                (s[i + 3] & 0x3F);
            i += 4;
        } else {
            c = 0xFFFD;
            i += 1;
        }
        if (c >= 0x10000 && c <= 0x10FFFF) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c > 0x10FFFF ? 0xFFFD : c);
        }
    }
    return out;
}

std::u16string utf8_to_utf16(const std::string& s) { return utf8_to_utf16(s.data(), s.size()); }

// The modified UTF-8 that GetStringUTFChars hands out.
std::string utf16_to_mutf8(const std::u16string& s) {
    std::string out;
    for (char16_t u : s) {
        uint32_t c = u;
        if (c != 0 && c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Option strings arrive in the ANSI code page.
std::u16string ansi_to_utf16(const char* s) {
    int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
    if (n <= 0) return u"";
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, s, -1, &w[0], n);
    w.resize(static_cast<size_t>(n - 1));
    return std::u16string(w.begin(), w.end());
}

std::u16string from_wide(const std::wstring& w) { return std::u16string(w.begin(), w.end()); }
std::wstring to_wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

// ---------------------------------------------------------------------------
// Record file: JSON Lines, one event per line, appended and closed at once so
// a test can read it while the process still runs (or after it was killed).

CRITICAL_SECTION g_record_lock;
std::wstring g_record_path;

void json_string(std::string& out, const std::string& utf8) {
    out += '"';
    for (unsigned char c : utf8) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
}

std::string json_string(const std::string& utf8) {
    std::string s;
    json_string(s, utf8);
    return s;
}

void write_record(const std::string& line) {
    EnterCriticalSection(&g_record_lock);
    // FILE_APPEND_DATA alone makes each write land at the end on Windows, but
    // Wine appends by seeking first: launcher processes that share one record
    // file also take turns through a named mutex, so no record is overwritten.
    static HANDLE turns = CreateMutexW(nullptr, FALSE, L"standin_record_turns");
    DWORD wait = turns ? WaitForSingleObject(turns, 5000) : WAIT_FAILED;
    bool holding = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 50 && h == INVALID_HANDLE_VALUE; ++attempt) {
        h = CreateFileW(g_record_path.c_str(), FILE_APPEND_DATA,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) Sleep(10);
    }
    if (h != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(h);
    }
    if (holding) ReleaseMutex(turns);
    LeaveCriticalSection(&g_record_lock);
}

// Microseconds since this process was created (for the start-up benchmark).
long long micros_since_process_start() {
    FILETIME created, exited, kernel, user, now;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
    GetSystemTimePreciseAsFileTime(&now);
    auto ticks = [](const FILETIME& f) { return (static_cast<long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    return (ticks(now) - ticks(created)) / 10;
}

// Whether this process shows a splash window of the launcher's own now.
bool own_splash_visible() {
    for (HWND h = FindWindowExW(nullptr, nullptr, L"SplashScreenWindow", nullptr); h;
         h = FindWindowExW(nullptr, h, L"SplashScreenWindow", nullptr)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        if (pid == GetCurrentProcessId() && IsWindowVisible(h)) return true;
    }
    return false;
}

class Event {
public:
    explicit Event(const char* name) {
        line_ = "{\"event\":";
        json_string(line_, name);
    }
    Event& str(const char* key, const std::string& utf8) {
        this->key(key);
        json_string(line_, utf8);
        return *this;
    }
    Event& str16(const char* key, const std::u16string& s) { return str(key, utf16_to_utf8(s)); }
    Event& num(const char* key, long long v) {
        this->key(key);
        line_ += std::to_string(v);
        return *this;
    }
    Event& boolean(const char* key, bool v) {
        this->key(key);
        line_ += v ? "true" : "false";
        return *this;
    }
    Event& null(const char* key) {
        this->key(key);
        line_ += "null";
        return *this;
    }
    Event& raw(const char* key, const std::string& json) {
        this->key(key);
        line_ += json;
        return *this;
    }
    void emit() {
        num("pid", static_cast<long long>(GetCurrentProcessId()));
        num("t_us", micros_since_process_start());
        line_ += "}\n";
        write_record(line_);
    }

private:
    void key(const char* k) {
        line_ += ',';
        json_string(line_, k);
        line_ += ':';
    }
    std::string line_;
};

// ---------------------------------------------------------------------------
// Settings, read once when the DLL is loaded from standin.cfg beside it.

struct Config {
    int create_result = 0;
    int default_stack = 0;
    int default_args_result = 0;
    int exit_code = 0;
    int sleep_ms = 0;
    int create_sleep_ms = 0;
    int secondary_result = 7;
    // Every main waits (after its record) until "standin.stop" appears beside
    // the dll, at most this long, so that second instances can hand over.
    int main_waits_ms = 0;
    // secondaryMain: throws after its record; sleeps first; answers, instead
    // of secondary_result, the number in its first argument (1) or the
    // number of its arguments (2).
    int secondary_throws = 0;
    int secondary_sleep_ms = 0;
    int secondary_result_from_args = 0;
    int jni_version = JNI_VERSION_10;
    // DestroyJavaVM runs "shutdown hooks" this long once the program's
    // threads have ended: the runtime then refuses new shutdown hooks.
    int destroy_sleep_ms = 0;
    // Loads standin_dep.dll by its bare name while this library loads.
    int load_dependency = 0;
    // Every main calls System.exit(exit_code) once it has done its work, in
    // this many runs (counted in standin.runs beside the dll), then goes on:
    // a program that asks for a restart.
    int exit_runs = 0;
    // The stop file is removed when main sees it, so the next run waits anew.
    int consume_stop = 0;
    // After the exit hook has returned, the process lingers this long before
    // it ends (a runtime's exit takes its time).
    int exit_sleep_ms = 0;
    // main records the DPI awareness the program runs with.
    int record_dpi = 0;
};

Config g_cfg;
// A class name of the application being run (e.g. the demo's main class)
// that the stand-in serves like standin/Records ("records_as=" in the config).
std::string g_records_alias;
// The same for standin/SecondaryInt ("secondary_as=" in the config).
std::string g_secondary_alias;
// "write_vmoptions=<line>": before the exit of exit_runs, main writes the
// line into the file the launcher names in veda.launcher.vmoptions, as a
// program's settings screen does.
std::string g_write_vmoptions;
std::wstring g_user_options_file;
// Injected failures ("fail=Function:N" in the config): the Nth call of the
// named function fails as a real runtime does when it runs out of memory
// (null with OutOfMemoryError pending; DetachCurrentThread returns JNI_ERR).
std::map<std::string, int> g_fail_at;
std::map<std::string, int> g_calls;
// "quiet_missing_method=1": a failed static method lookup leaves no
// exception pending, as some runtimes do.
bool g_quiet_missing_method = false;
// What standin/Throws throws: its message ("throw_message=", UTF-8) and the
// number of stack frames ("throw_frames="), for traces of any length.
std::string g_throw_message = "boom";
int g_throw_frames = 1;
// "print_fails=1": printStackTrace throws instead of printing.
bool g_print_fails = false;
// "main_prints=1": every main also prints a line on System.out and on
// System.err, as a program would (for the demo).
bool g_main_prints = false;
// "wait_file=path": every main waits until this file exists (at most
// sleep_ms, or 60 s when that is 0) before it does its own work.
std::wstring g_wait_file;
std::wstring g_dll_path;
std::wstring g_dll_dir;
DWORD g_loader_tid = 0;

std::wstring own_module_path() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&own_module_path), &self);
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(self, &buf[0], static_cast<DWORD>(buf.size()));
        if (n == 0) return L"";
        if (n < buf.size()) {
            buf.resize(n);
            return buf;
        }
        buf.resize(buf.size() * 2);
    }
}

bool is_absolute(const std::wstring& p) {
    return (p.size() >= 2 && p[1] == L':') || (!p.empty() && (p[0] == L'\\' || p[0] == L'/'));
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

void load_config() {
    g_record_path = g_dll_dir + L"\\standin.log";
    std::wstring cfg_path = g_dll_dir + L"\\standin.cfg";
    HANDLE h = CreateFileW(cfg_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    std::string text;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) text.append(buf, got);
    CloseHandle(h);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);

    struct IntKey {
        const char* name;
        int* value;
    } const keys[] = {
        {"create_result", &g_cfg.create_result},
        {"default_stack", &g_cfg.default_stack},
        {"default_args_result", &g_cfg.default_args_result},
        {"exit_code", &g_cfg.exit_code},
        {"sleep_ms", &g_cfg.sleep_ms},
        {"create_sleep_ms", &g_cfg.create_sleep_ms},
        {"secondary_result", &g_cfg.secondary_result},
        {"main_waits_ms", &g_cfg.main_waits_ms},
        {"secondary_throws", &g_cfg.secondary_throws},
        {"secondary_sleep_ms", &g_cfg.secondary_sleep_ms},
        {"secondary_result_from_args", &g_cfg.secondary_result_from_args},
        {"jni_version", &g_cfg.jni_version},
        {"destroy_sleep_ms", &g_cfg.destroy_sleep_ms},
        {"load_dependency", &g_cfg.load_dependency},
        {"exit_runs", &g_cfg.exit_runs},
        {"consume_stop", &g_cfg.consume_stop},
        {"exit_sleep_ms", &g_cfg.exit_sleep_ms},
        {"record_dpi", &g_cfg.record_dpi},
    };
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == '#') continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = trim(line.substr(0, eq));
        std::string value = trim(line.substr(eq + 1));
        if (key == "fail") {
            size_t colon = value.find(':');
            g_fail_at[trim(value.substr(0, colon))] =
                colon == std::string::npos ? 1 : std::atoi(value.substr(colon + 1).c_str());
            continue;
        }
        if (key == "quiet_missing_method") {
            g_quiet_missing_method = value == "1";
            continue;
        }
        if (key == "throw_message") {
            g_throw_message = value;
            continue;
        }
        if (key == "throw_frames") {
            g_throw_frames = std::atoi(value.c_str());
            continue;
        }
        if (key == "main_prints") {
            g_main_prints = value == "1";
            continue;
        }
        if (key == "print_fails") {
            g_print_fails = value == "1";
            continue;
        }
        if (key == "wait_file") {
            g_wait_file = to_wide(utf8_to_utf16(value));
            continue;
        }
        if (key == "write_vmoptions") {
            g_write_vmoptions = value;
            continue;
        }
        if (key == "records_as") {
            g_records_alias = value;
            continue;
        }
        if (key == "secondary_as") {
            g_secondary_alias = value;
            continue;
        }
        if (key == "record") {
            std::wstring p = to_wide(utf8_to_utf16(value));
            g_record_path = is_absolute(p) ? p : g_dll_dir + L"\\" + p;
            continue;
        }
        for (const IntKey& k : keys) {
            if (key == k.name) *k.value = static_cast<int>(std::strtol(value.c_str(), nullptr, 0));
        }
    }
}

// ---------------------------------------------------------------------------
// The scripted Java world.

enum class Kind { Plain, Class, String, CharArray, ObjectArray, FileOut, PrintStream, Bytes, Throwable };

struct ClassInfo {
    const char* name;
    const char* super;
    Kind instances;
};

const ClassInfo kClasses[] = {
    {"java/lang/Object", nullptr, Kind::Plain},
    {"java/lang/String", "java/lang/Object", Kind::String},
    {"java/lang/System", "java/lang/Object", Kind::Plain},
    {"java/io/OutputStream", "java/lang/Object", Kind::Plain},
    {"java/io/FileOutputStream", "java/io/OutputStream", Kind::FileOut},
    {"java/io/FilterOutputStream", "java/io/OutputStream", Kind::Plain},
    {"java/io/PrintStream", "java/io/FilterOutputStream", Kind::PrintStream},
    {"java/io/ByteArrayOutputStream", "java/io/OutputStream", Kind::Bytes},
    {"java/lang/Throwable", "java/lang/Object", Kind::Throwable},
    {"java/lang/Exception", "java/lang/Throwable", Kind::Throwable},
    {"java/lang/RuntimeException", "java/lang/Exception", Kind::Throwable},
    {"java/lang/NullPointerException", "java/lang/RuntimeException", Kind::Throwable},
    {"java/lang/IllegalStateException", "java/lang/RuntimeException", Kind::Throwable},
    {"java/lang/IndexOutOfBoundsException", "java/lang/RuntimeException", Kind::Throwable},
    {"java/lang/ArrayIndexOutOfBoundsException", "java/lang/IndexOutOfBoundsException", Kind::Throwable},
    {"java/lang/StringIndexOutOfBoundsException", "java/lang/IndexOutOfBoundsException", Kind::Throwable},
    {"java/lang/ArrayStoreException", "java/lang/RuntimeException", Kind::Throwable},
    {"java/lang/NegativeArraySizeException", "java/lang/RuntimeException", Kind::Throwable},
    {"java/io/IOException", "java/lang/Exception", Kind::Throwable},
    {"java/io/FileNotFoundException", "java/io/IOException", Kind::Throwable},
    {"java/lang/Error", "java/lang/Throwable", Kind::Throwable},
    {"java/lang/LinkageError", "java/lang/Error", Kind::Throwable},
    {"java/lang/NoClassDefFoundError", "java/lang/LinkageError", Kind::Throwable},
    {"java/lang/IncompatibleClassChangeError", "java/lang/LinkageError", Kind::Throwable},
    {"java/lang/NoSuchMethodError", "java/lang/IncompatibleClassChangeError", Kind::Throwable},
    {"java/lang/VirtualMachineError", "java/lang/Error", Kind::Throwable},
    {"java/lang/OutOfMemoryError", "java/lang/VirtualMachineError", Kind::Throwable},
    {"java/lang/Runtime", "java/lang/Object", Kind::Plain},
    {"java/lang/Thread", "java/lang/Object", Kind::Plain},
    {"standin/Records", "java/lang/Object", Kind::Plain},
    {"standin/Throws", "java/lang/Object", Kind::Plain},
    {"standin/Exits", "java/lang/Object", Kind::Plain},
    {"standin/Sleeps", "java/lang/Object", Kind::Plain},
    {"standin/Prints", "java/lang/Object", Kind::Plain},
    {"standin/Echo", "java/lang/Object", Kind::Plain},
    {"standin/NoMain", "java/lang/Object", Kind::Plain},
    {"standin/SecondaryVoid", "java/lang/Object", Kind::Plain},
    {"standin/SecondaryInt", "java/lang/Object", Kind::Plain},
};

const ClassInfo* find_class_info(const char* name) {
    if (!g_records_alias.empty() && g_records_alias == name) name = "standin/Records";
    if (!g_secondary_alias.empty() && g_secondary_alias == name) name = "standin/SecondaryInt";
    for (const ClassInfo& c : kClasses) {
        if (std::strcmp(c.name, name) == 0) return &c;
    }
    return nullptr;
}

bool is_subclass(const ClassInfo* c, const ClassInfo* of) {
    for (; c; c = c->super ? find_class_info(c->super) : nullptr) {
        if (c == of) return true;
    }
    return false;
}

bool is(const ClassInfo* c, const char* name) { return std::strcmp(c->name, name) == 0; }

struct Obj {
    Kind kind = Kind::Plain;
    const ClassInfo* cls = nullptr;     // class of the object; for Kind::Class, the class it stands for
    std::u16string text;                // String value, char[] contents, Throwable message
    bool has_text = false;              // a Throwable's message may be null
    std::vector<Obj*> elems;            // Object[] elements
    const ClassInfo* elem_cls = nullptr;
    std::u16string path;                // FileOutputStream file name
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string bytes;                  // ByteArrayOutputStream contents
    Obj* target = nullptr;              // PrintStream's underlying stream
    std::vector<std::string> frames;    // Throwable stack frames
};

CRITICAL_SECTION g_lock;  // objects, class objects, threads, VM state
std::unordered_set<const void*> g_objects;
std::map<const ClassInfo*, Obj*> g_class_objs;

Obj* new_obj(Kind kind, const ClassInfo* cls) {
    Obj* o = new Obj;
    o->kind = kind;
    o->cls = cls;
    EnterCriticalSection(&g_lock);
    g_objects.insert(o);
    LeaveCriticalSection(&g_lock);
    return o;
}

Obj* class_obj(const ClassInfo* c) {
    EnterCriticalSection(&g_lock);
    Obj*& slot = g_class_objs[c];
    if (!slot) {
        slot = new Obj;
        slot->kind = Kind::Class;
        slot->cls = c;
        g_objects.insert(slot);
    }
    Obj* o = slot;
    LeaveCriticalSection(&g_lock);
    return o;
}

bool known_object(const void* p) {
    EnterCriticalSection(&g_lock);
    bool ok = g_objects.count(p) != 0;
    LeaveCriticalSection(&g_lock);
    return ok;
}

std::string dotted(const char* slash_name) {
    std::string s = slash_name;
    for (char& c : s) {
        if (c == '/') c = '.';
    }
    return s;
}

std::u16string throwable_string(const Obj* t) {
    std::u16string s = utf8_to_utf16(dotted(t->cls->name));
    if (t->has_text) s += u": " + t->text;
    return s;
}

std::u16string stack_trace(const Obj* t) {
    std::u16string s = throwable_string(t) + u"\r\n";
    for (const std::string& f : t->frames) s += u"\tat " + utf8_to_utf16(f) + u"\r\n";
    return s;
}

// ---------------------------------------------------------------------------
// Methods of the scripted classes.

enum class Impl {
    ObjectInit, StringFromChars, FileOutInit, PrintStreamInit, BytesInit, BytesToString,
    ThrowableToString, ThrowableGetMessage, PrintStackTrace, SystemExit, SetOut, SetErr,
    Main, SecondaryMainVoid, SecondaryMainInt, GetRuntime, AddShutdownHook, RemoveShutdownHook,
};

struct MethodInfo {
    const char* cls;
    const char* name;
    const char* sig;
    bool is_static;
    Impl impl;
};

#define MAIN_SIG "([Ljava/lang/String;)V"
const MethodInfo kMethods[] = {
    {"java/lang/Object", "<init>", "()V", false, Impl::ObjectInit},
    {"java/lang/String", "<init>", "([C)V", false, Impl::StringFromChars},
    {"java/io/FileOutputStream", "<init>", "(Ljava/lang/String;)V", false, Impl::FileOutInit},
    {"java/io/PrintStream", "<init>", "(Ljava/io/OutputStream;)V", false, Impl::PrintStreamInit},
    {"java/io/ByteArrayOutputStream", "<init>", "()V", false, Impl::BytesInit},
    {"java/io/ByteArrayOutputStream", "toString", "()Ljava/lang/String;", false, Impl::BytesToString},
    // The exception trace names its encoding on both sides; this runtime's bytes are always UTF-8.
    {"java/io/PrintStream", "<init>", "(Ljava/io/OutputStream;ZLjava/lang/String;)V", false, Impl::PrintStreamInit},
    {"java/io/ByteArrayOutputStream", "toString", "(Ljava/lang/String;)Ljava/lang/String;", false,
     Impl::BytesToString},
    {"java/lang/Throwable", "toString", "()Ljava/lang/String;", false, Impl::ThrowableToString},
    {"java/lang/Throwable", "getMessage", "()Ljava/lang/String;", false, Impl::ThrowableGetMessage},
    {"java/lang/Throwable", "printStackTrace", "(Ljava/io/PrintStream;)V", false, Impl::PrintStackTrace},
    {"java/lang/System", "exit", "(I)V", true, Impl::SystemExit},
    {"java/lang/Runtime", "getRuntime", "()Ljava/lang/Runtime;", true, Impl::GetRuntime},
    {"java/lang/Runtime", "addShutdownHook", "(Ljava/lang/Thread;)V", false, Impl::AddShutdownHook},
    {"java/lang/Runtime", "removeShutdownHook", "(Ljava/lang/Thread;)Z", false, Impl::RemoveShutdownHook},
    {"java/lang/Thread", "<init>", "()V", false, Impl::ObjectInit},
    {"java/lang/System", "setOut", "(Ljava/io/PrintStream;)V", true, Impl::SetOut},
    {"java/lang/System", "setErr", "(Ljava/io/PrintStream;)V", true, Impl::SetErr},
    {"standin/Records", "main", MAIN_SIG, true, Impl::Main},
    {"standin/Throws", "main", MAIN_SIG, true, Impl::Main},
    {"standin/Exits", "main", MAIN_SIG, true, Impl::Main},
    {"standin/Sleeps", "main", MAIN_SIG, true, Impl::Main},
    {"standin/Prints", "main", MAIN_SIG, true, Impl::Main},
    {"standin/Echo", "main", MAIN_SIG, true, Impl::Main},
    {"standin/SecondaryVoid", "main", MAIN_SIG, true, Impl::Main},
    {"standin/SecondaryInt", "main", MAIN_SIG, true, Impl::Main},
    {"standin/SecondaryVoid", "secondaryMain", MAIN_SIG, true, Impl::SecondaryMainVoid},
    {"standin/SecondaryInt", "secondaryMain", "([Ljava/lang/String;)I", true, Impl::SecondaryMainInt},
};

const MethodInfo* method_from_id(jmethodID id) {
    for (const MethodInfo& m : kMethods) {
        if (reinterpret_cast<jmethodID>(const_cast<MethodInfo*>(&m)) == id) return &m;
    }
    return nullptr;
}

char return_type(const MethodInfo* m) { return std::strchr(m->sig, ')')[1]; }

// ---------------------------------------------------------------------------
// Threads and the VM.

struct EnvRec {
    const JNINativeInterface_* functions;  // must come first: this is the JNIEnv
    DWORD tid = 0;
    bool attached = true;
    bool daemon = false;
    Obj* pending = nullptr;
    std::string thread_name;
    // Local references handed out and not yet deleted, per object.
    std::map<const Obj*, int> locals;
};

JNINativeInterface_ g_env_table;
JNIInvokeInterface_ g_vm_table;
JavaVM g_vm;
enum class VmState { None, Live, Destroyed } g_vm_state = VmState::None;
// From System.exit, or from DestroyJavaVM once the program's threads ended.
volatile bool g_shutting_down = false;
std::map<DWORD, EnvRec*> g_envs;
int g_thread_counter = 0;
void(JNICALL* g_exit_hook)(jint) = nullptr;
Obj* g_out = nullptr;  // System.out/err once redirected; null while still the process handles
Obj* g_err = nullptr;
bool g_out_set = false;
bool g_err_set = false;

DWORD tid() { return GetCurrentThreadId(); }

EnvRec* env_for_current_thread() {
    EnterCriticalSection(&g_lock);
    auto it = g_envs.find(tid());
    EnvRec* e = it == g_envs.end() ? nullptr : it->second;
    LeaveCriticalSection(&g_lock);
    return e;
}

EnvRec* attach_current_thread(const std::string& name) {
    EnvRec* e = new EnvRec;
    e->functions = &g_env_table;
    e->tid = tid();
    e->thread_name = name;
    EnterCriticalSection(&g_lock);
    if (e->thread_name.empty()) e->thread_name = "Thread-" + std::to_string(g_thread_counter++);
    g_envs[e->tid] = e;
    LeaveCriticalSection(&g_lock);
    return e;
}

[[noreturn]] void die(Event ev) {
    ev.emit();
    TerminateProcess(GetCurrentProcess(), kLoudExit);
    ExitProcess(kLoudExit);
}

void write_stderr(const std::string& text) {
    HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    if (h && h != INVALID_HANDLE_VALUE) WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

[[noreturn]] void unexpected_slot(const char* table, int slot, const char* name) {
    write_stderr(std::string("standin jvm: unexpected JNI call ") + name + "\n");
    die(Event("unexpected_jni").num("slot", slot).str("table", table).str("name", name).num("thread", tid()));
}

// A wrong argument (unknown reference, wrong kind, missing pointer) would crash
// or corrupt a real runtime; here it ends the process as loudly as an unplanned slot.
[[noreturn]] void bad_call(const char* fn, const std::string& reason) {
    write_stderr(std::string("standin jvm: bad call to ") + fn + ": " + reason + "\n");
    die(Event("bad_call").str("function", fn).str("reason", reason).num("thread", tid()));
}

// Mistakes a real runtime tolerates (or only reports under -Xcheck:jni) are
// recorded and otherwise let through.
void misuse(const char* fn, const std::string& reason) {
    Event("jni_misuse").str("function", fn).str("reason", reason).num("thread", tid()).emit();
}

// Common entry checks for every JNI function.
EnvRec* enter(JNIEnv* env, const char* fn, bool allowed_with_pending = false) {
    if (!env) bad_call(fn, "null JNIEnv");
    EnvRec* e = reinterpret_cast<EnvRec*>(env);
    if (e->functions != &g_env_table) bad_call(fn, "not a JNIEnv of this runtime");
    if (e->tid != tid()) misuse(fn, "JNIEnv of thread " + std::to_string(e->tid) + " used on another thread");
    if (!e->attached) misuse(fn, "JNIEnv of a detached thread");
    if (e->pending && !allowed_with_pending) misuse(fn, "called with an exception pending");
    return e;
}

Obj* ref(const char* fn, const void* p, bool nullable = false) {
    if (!p) {
        if (nullable) return nullptr;
        bad_call(fn, "null reference");
    }
    if (!known_object(p)) bad_call(fn, "not a reference of this runtime");
    return const_cast<Obj*>(static_cast<const Obj*>(p));
}

Obj* ref_of(const char* fn, const void* p, Kind kind, bool nullable = false) {
    Obj* o = ref(fn, p, nullable);
    if (o && o->kind != kind) bad_call(fn, std::string("reference of the wrong type (") + o->cls->name + ")");
    return o;
}

template <typename T>
T jref(Obj* o) {
    return reinterpret_cast<T>(o);
}

// Every reference a JNI function hands out is a new local reference of the
// calling thread, live until DeleteLocalRef (or the detach).
template <typename T>
T local(EnvRec* e, Obj* o) {
    if (o) ++e->locals[o];
    return jref<T>(o);
}

void throw_new(EnvRec* e, const char* cls, const std::u16string* msg,
               std::vector<std::string> frames = {}) {
    Obj* t = new_obj(Kind::Throwable, find_class_info(cls));
    if (msg) {
        t->text = *msg;
        t->has_text = true;
    }
    t->frames = std::move(frames);
    e->pending = t;
}

void throw_new(EnvRec* e, const char* cls, const std::string& msg_utf8) {
    std::u16string m = utf8_to_utf16(msg_utf8);
    throw_new(e, cls, &m);
}

// Counts a call of fn and tells whether the config asks this call to fail.
bool injected_failure(const char* fn) {
    EnterCriticalSection(&g_lock);
    auto wanted = g_fail_at.find(fn);
    bool fail = wanted != g_fail_at.end() && ++g_calls[fn] == wanted->second;
    LeaveCriticalSection(&g_lock);
    if (fail) Event("injected_failure").str("function", fn).num("thread", GetCurrentThreadId()).emit();
    return fail;
}

bool injected_out_of_memory(EnvRec* e, const char* fn) {
    if (!injected_failure(fn)) return false;
    throw_new(e, "java/lang/OutOfMemoryError", std::string("injected failure of ") + fn);
    return true;
}

std::string json_args(const Obj* args) {
    if (!args) return "null";
    std::string s = "[";
    for (size_t i = 0; i < args->elems.size(); ++i) {
        if (i) s += ',';
        const Obj* a = args->elems[i];
        s += a && a->kind == Kind::String ? json_string(utf16_to_utf8(a->text)) : "null";
    }
    return s + "]";
}

// Where bytes written to an output stream end up, for the record.
std::string stream_target_json(const Obj* s) {
    while (s && s->kind == Kind::PrintStream) s = s->target;
    if (!s) return "null";
    if (s->kind == Kind::FileOut) return json_string(utf16_to_utf8(s->path));
    return "null";
}

const char* stream_kind(const Obj* s) {
    while (s && s->kind == Kind::PrintStream) s = s->target;
    if (!s) return "null";
    if (s->kind == Kind::FileOut) return "file";
    if (s->kind == Kind::Bytes) return "bytes";
    return "other";
}

void write_stream(Obj* s, const std::string& bytes) {
    while (s && s->kind == Kind::PrintStream) s = s->target;
    if (!s) return;
    if (s->kind == Kind::FileOut && s->file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(s->file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    } else if (s->kind == Kind::Bytes) {
        s->bytes += bytes;
    }
}

// Writes to System.out (err=false) or System.err; false when that stream was set to null.
bool write_system_stream(bool err, const std::string& bytes) {
    bool set = err ? g_err_set : g_out_set;
    Obj* stream = err ? g_err : g_out;
    if (set) {
        if (!stream) return false;
        write_stream(stream, bytes);
        return true;
    }
    HANDLE h = GetStdHandle(err ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD written = 0;
    if (h && h != INVALID_HANDLE_VALUE) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return true;
}

void write_user_options() {
    if (g_write_vmoptions.empty() || g_user_options_file.empty()) return;
    for (size_t at = g_user_options_file.find(L'\\', 3); at != std::wstring::npos;
         at = g_user_options_file.find(L'\\', at + 1))
        CreateDirectoryW(g_user_options_file.substr(0, at).c_str(), nullptr);
    if (FILE* f = _wfopen(g_user_options_file.c_str(), L"wb")) {
        std::fprintf(f, "%s\r\n", g_write_vmoptions.c_str());
        std::fclose(f);
    }
    Event("wrote_options").str("line", g_write_vmoptions).emit();
}

// This run's number among the runs of the dll's folder (1 for the first).
int count_run() {
    std::wstring path = g_dll_dir + L"\\standin.runs";
    int runs = 0;
    if (FILE* f = _wfopen(path.c_str(), L"rb")) {
        if (std::fscanf(f, "%d", &runs) != 1) runs = 0;
        std::fclose(f);
    }
    ++runs;
    if (FILE* f = _wfopen(path.c_str(), L"wb")) {
        std::fprintf(f, "%d", runs);
        std::fclose(f);
    }
    Event("run").num("number", runs).emit();
    return runs;
}

[[noreturn]] void system_exit(jint code) {
    g_shutting_down = true;
    if (g_exit_hook) {
        Event("exit_hook").num("code", code).num("thread", tid()).emit();
        g_exit_hook(code);
        if (g_cfg.exit_sleep_ms > 0) {
            Event("exit_lingers").emit();
            Sleep(static_cast<DWORD>(g_cfg.exit_sleep_ms));
        }
    }
    Event("exit").num("code", code).num("thread", tid()).boolean("splash", own_splash_visible()).emit();
    ExitProcess(static_cast<UINT>(code));
}

void println(EnvRec* e, bool err, const char* text) {
    const char* name = err ? "err" : "out";
    Obj* stream = err ? g_err : g_out;
    bool set = err ? g_err_set : g_out_set;
    Event ev("print");
    ev.str("stream", name).str("text", text);
    if (set) {
        ev.raw("path", stream_target_json(stream)).str("target", stream_kind(stream));
    } else {
        ev.null("path").str("target", "process");
    }
    ev.num("thread", tid()).emit();
    if (!write_system_stream(err, std::string(text) + "\r\n")) throw_new(e, "java/lang/NullPointerException", nullptr);
}

// main_waits_ms: waits for the stop file, so main keeps running meanwhile.
void wait_for_stop_file() {
    if (g_cfg.main_waits_ms <= 0) return;
    std::wstring stop = g_dll_dir + L"\\standin.stop";
    DWORD start = GetTickCount();
    bool stopped = false;
    while (GetTickCount() - start < static_cast<DWORD>(g_cfg.main_waits_ms)) {
        if (GetFileAttributesW(stop.c_str()) != INVALID_FILE_ATTRIBUTES) {
            stopped = true;
            if (g_cfg.consume_stop) DeleteFileW(stop.c_str());
            break;
        }
        Sleep(20);
    }
    Event("main_released").boolean("stop_file", stopped).num("thread", tid()).emit();
}

void run_main(EnvRec* e, const ClassInfo* cls, Obj* args) {
    Event("main")
        .str("class", cls->name)
        .raw("args", json_args(args))
        .num("thread", tid())
        .boolean("splash", own_splash_visible())
        .emit();
    if (g_cfg.record_dpi) {
        // The DPI awareness the program runs with (0 unaware, 1 system, 2 per monitor).
        typedef void*(WINAPI * ContextFunction)();
        typedef int(WINAPI * AwarenessFunction)(void*);
        HMODULE user = GetModuleHandleW(L"user32.dll");
        auto context = user ? reinterpret_cast<ContextFunction>(
                                  reinterpret_cast<void*>(GetProcAddress(user, "GetThreadDpiAwarenessContext")))
                            : nullptr;
        auto awareness = user ? reinterpret_cast<AwarenessFunction>(reinterpret_cast<void*>(
                                    GetProcAddress(user, "GetAwarenessFromDpiAwarenessContext")))
                              : nullptr;
        void* current = context ? context() : nullptr;
        Event("dpi").num("awareness", awareness && current ? awareness(current) : -1)
            .num("context", static_cast<long long>(reinterpret_cast<intptr_t>(current))).emit();
    }
    if (g_cfg.load_dependency) {
        // The program's own loads search as the system's default does.
        wchar_t directory[MAX_PATH] = L"";
        GetDllDirectoryW(MAX_PATH, directory);
        Event("dll_directory").str16("path", from_wide(directory)).emit();
    }
    if (g_main_prints) {
        std::string name = dotted(g_records_alias.empty() || !is(cls, "standin/Records") ? cls->name
                                                                                         : g_records_alias.c_str());
        println(e, false, (name + " prints on System.out").c_str());
        if (!e->pending) println(e, true, (name + " prints on System.err").c_str());
        if (e->pending) return;
    }
    wait_for_stop_file();
    if (g_cfg.exit_runs > 0 && count_run() <= g_cfg.exit_runs) {
        write_user_options();
        system_exit(g_cfg.exit_code);
    }
    if (!g_wait_file.empty()) {
        // Keeps main running until the test has looked at the screen.
        DWORD limit = g_cfg.sleep_ms > 0 ? static_cast<DWORD>(g_cfg.sleep_ms) : 60000;
        DWORD start = GetTickCount();
        while (GetFileAttributesW(g_wait_file.c_str()) == INVALID_FILE_ATTRIBUTES && GetTickCount() - start < limit)
            Sleep(10);
        Event("main_end").num("thread", tid()).boolean("splash", own_splash_visible()).emit();
    } else if (is(cls, "standin/Sleeps")) {
        Sleep(static_cast<DWORD>(g_cfg.sleep_ms));
    }
    if (is(cls, "standin/Throws")) {
        std::u16string msg = utf8_to_utf16(g_throw_message);
        std::vector<std::string> frames;
        for (int i = g_throw_frames - 1; i > 0; --i)
            frames.push_back("standin.Throws.level" + std::to_string(i) + "(Throws.java:" + std::to_string(i + 1) + ")");
        frames.push_back("standin.Throws.main(Throws.java:1)");
        throw_new(e, "java/lang/RuntimeException", &msg, frames);
    } else if (is(cls, "standin/Exits")) {
        system_exit(g_cfg.exit_code);
    } else if (is(cls, "standin/Echo")) {
        // A command-line program: its arguments one a line (UTF-8), then
        // System.in copied to System.out until its end; exit_code, when not
        // 0, through System.exit.
        for (const Obj* a : args ? args->elems : std::vector<Obj*>())
            if (!write_system_stream(false, (a && a->kind == Kind::String ? utf16_to_utf8(a->text) : "null") + "\r\n"))
                return throw_new(e, "java/lang/NullPointerException", nullptr);
        HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
        char buffer[4096];
        DWORD got = 0;
        size_t total = 0;
        while (in && in != INVALID_HANDLE_VALUE && ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            write_system_stream(false, std::string(buffer, got));
            total += got;
        }
        Event("echoed").num("bytes", static_cast<long long>(total)).num("thread", tid()).emit();
        if (g_cfg.exit_code != 0) system_exit(g_cfg.exit_code);
    } else if (is(cls, "standin/Prints")) {
        println(e, false, "standin out");
        if (!e->pending) println(e, true, "standin err");
    }
}

std::u16string win_error_text(DWORD code) {
    wchar_t* buf = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<LPWSTR>(&buf), 0, nullptr);
    std::wstring w = n && buf ? std::wstring(buf, n) : L"error " + std::to_wstring(code);
    if (buf) LocalFree(buf);
    while (!w.empty() && (w.back() == L'\n' || w.back() == L'\r' || w.back() == L'.' || w.back() == L' '))
        w.pop_back();
    return from_wide(w);
}

// Runs a method. `self` is the receiver (the new object for constructors) or
// null for static methods; `cls` the class named in the call.
jvalue invoke(EnvRec* e, const char* fn, const MethodInfo* m, const ClassInfo* cls, Obj* self,
              const std::vector<jvalue>& a) {
    jvalue r;
    std::memset(&r, 0, sizeof r);
    auto arg_obj = [&](size_t i) { return ref(fn, a[i].l, true); };
    switch (m->impl) {
        case Impl::ObjectInit:
        case Impl::BytesInit:
            break;
        case Impl::GetRuntime:
            r.l = reinterpret_cast<jobject>(new_obj(Kind::Plain, find_class_info("java/lang/Runtime")));
            break;
        case Impl::AddShutdownHook:
            if (g_shutting_down) throw_new(e, "java/lang/IllegalStateException", "Shutdown in progress");
            break;
        case Impl::RemoveShutdownHook:
            r.z = JNI_TRUE;
            break;
        case Impl::StringFromChars: {
            Obj* chars = arg_obj(0);
            if (!chars) {
                throw_new(e, "java/lang/NullPointerException", nullptr);
                break;
            }
            if (chars->kind != Kind::CharArray) bad_call(fn, "String(char[]) given a non-char[]");
            self->text = chars->text;
            break;
        }
        case Impl::FileOutInit: {
            Obj* name = arg_obj(0);
            if (!name) {
                throw_new(e, "java/lang/NullPointerException", nullptr);
                break;
            }
            if (name->kind != Kind::String) bad_call(fn, "FileOutputStream(String) given a non-String");
            self->path = name->text;
            std::wstring wpath = to_wide(name->text);
            self->file = CreateFileW(wpath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            bool ok = self->file != INVALID_HANDLE_VALUE;
            Event ev("open_file");
            ev.str16("path", name->text).boolean("ok", ok).num("thread", tid());
            if (!ok) {
                DWORD err = GetLastError();
                std::u16string msg = name->text + u" (" + win_error_text(err) + u")";
                throw_new(e, "java/io/FileNotFoundException", &msg);
                ev.num("error", static_cast<long long>(err));
            }
            ev.emit();
            break;
        }
        case Impl::PrintStreamInit: {
            Obj* out = arg_obj(0);
            if (!out) {
                throw_new(e, "java/lang/NullPointerException", nullptr);
                break;
            }
            if (!is_subclass(out->cls, find_class_info("java/io/OutputStream")))
                bad_call(fn, "PrintStream(OutputStream) given a non-OutputStream");
            self->target = out;
            break;
        }
        case Impl::BytesToString: {
            Obj* s = new_obj(Kind::String, find_class_info("java/lang/String"));
            s->text = utf8_to_utf16(self->bytes);
            r.l = jref<jobject>(s);
            Event("bytes_to_string").num("length", static_cast<long long>(s->text.size())).num("thread", tid()).emit();
            break;
        }
        case Impl::ThrowableToString: {
            Obj* s = new_obj(Kind::String, find_class_info("java/lang/String"));
            s->text = throwable_string(self);
            r.l = jref<jobject>(s);
            break;
        }
        case Impl::ThrowableGetMessage: {
            if (self->has_text) {
                Obj* s = new_obj(Kind::String, find_class_info("java/lang/String"));
                s->text = self->text;
                r.l = jref<jobject>(s);
            }
            break;
        }
        case Impl::PrintStackTrace: {
            Obj* ps = arg_obj(0);
            if (!ps) {
                throw_new(e, "java/lang/NullPointerException", nullptr);
                break;
            }
            if (ps->kind != Kind::PrintStream) bad_call(fn, "printStackTrace given a non-PrintStream");
            Event("print_stack_trace")
                .str("class", self->cls->name)
                .str("target", stream_kind(ps))
                .boolean("fails", g_print_fails)
                .boolean("splash", own_splash_visible())
                .num("thread", tid())
                .emit();
            if (g_print_fails) {
                throw_new(e, "java/lang/IllegalStateException", "cannot print the trace");
                break;
            }
            write_stream(ps, utf16_to_utf8(stack_trace(self)));
            break;
        }
        case Impl::SystemExit:
            system_exit(a[0].i);
        case Impl::SetOut:
        case Impl::SetErr: {
            Obj* ps = arg_obj(0);
            if (ps && ps->kind != Kind::PrintStream) bad_call(fn, "System.setOut/setErr given a non-PrintStream");
            bool err = m->impl == Impl::SetErr;
            Event(err ? "set_err" : "set_out")
                .raw("path", stream_target_json(ps))
                .str("target", stream_kind(ps))
                .num("thread", tid())
                .emit();
            (err ? g_err : g_out) = ps;
            (err ? g_err_set : g_out_set) = true;
            break;
        }
        case Impl::Main: {
            Obj* args = arg_obj(0);
            if (args && args->kind != Kind::ObjectArray) bad_call(fn, "main given a non-array");
            run_main(e, cls, args);
            break;
        }
        case Impl::SecondaryMainVoid:
        case Impl::SecondaryMainInt: {
            Obj* args = arg_obj(0);
            if (args && args->kind != Kind::ObjectArray) bad_call(fn, "secondaryMain given a non-array");
            bool is_int = m->impl == Impl::SecondaryMainInt;
            Event("secondary_main")
                .str("class", cls->name)
                .str("form", is_int ? "int" : "void")
                .raw("args", json_args(args))
                .num("thread", tid())
                .emit();
            if (g_cfg.secondary_sleep_ms > 0) Sleep(static_cast<DWORD>(g_cfg.secondary_sleep_ms));
            if (is_int) {
                r.i = g_cfg.secondary_result;
                if (g_cfg.secondary_result_from_args == 1 && args && !args->elems.empty() && args->elems[0])
                    r.i = std::atoi(utf16_to_utf8(args->elems[0]->text).c_str());
                if (g_cfg.secondary_result_from_args == 2 && args) r.i = static_cast<jint>(args->elems.size());
            }
            if (g_cfg.secondary_throws) {
                std::u16string msg = u"secondary boom";
                throw_new(e, "java/lang/RuntimeException", &msg, {"standin.Secondary.secondaryMain(Secondary.java:1)"});
            }
            break;
        }
    }
    return r;
}

// Argument marshalling from the three calling forms (..., va_list, jvalue*).
std::vector<char> param_types(const MethodInfo* m) {
    std::vector<char> types;
    const char* p = m->sig + 1;
    while (*p && *p != ')') {
        char t = *p;
        while (*p == '[') ++p;
        if (*p == 'L') p = std::strchr(p, ';');
        ++p;
        types.push_back(t == '[' ? 'L' : t);
    }
    return types;
}

std::vector<jvalue> args_from_va(const MethodInfo* m, va_list ap) {
    std::vector<jvalue> out;
    for (char t : param_types(m)) {
        jvalue v;
        std::memset(&v, 0, sizeof v);
        switch (t) {
            case 'Z': v.z = static_cast<jboolean>(va_arg(ap, int)); break;
            case 'B': v.b = static_cast<jbyte>(va_arg(ap, int)); break;
            case 'C': v.c = static_cast<jchar>(va_arg(ap, int)); break;
            case 'S': v.s = static_cast<jshort>(va_arg(ap, int)); break;
            case 'I': v.i = va_arg(ap, jint); break;
            case 'J': v.j = va_arg(ap, jlong); break;
            case 'F': v.f = static_cast<jfloat>(va_arg(ap, double)); break;
            case 'D': v.d = va_arg(ap, double); break;
            default: v.l = va_arg(ap, jobject); break;
        }
        out.push_back(v);
    }
    return out;
}

std::vector<jvalue> args_from_array(const char* fn, const MethodInfo* m, const jvalue* a) {
    size_t n = param_types(m).size();
    if (n && !a) bad_call(fn, "null argument array");
    return std::vector<jvalue>(a, a + n);
}

const MethodInfo* method_ref(const char* fn, jmethodID id) {
    if (!id) bad_call(fn, "null method ID");
    const MethodInfo* m = method_from_id(id);
    if (!m) bad_call(fn, "not a method ID of this runtime");
    return m;
}

// Checks that a Call<Static><Type>Method flavour fits the method and runs it.
jvalue call(JNIEnv* env, const char* fn, bool is_static, char ret, jobject target, jmethodID id,
            const std::vector<jvalue>* given, va_list* ap, const jvalue* arr) {
    EnvRec* e = enter(env, fn);
    const MethodInfo* m = method_ref(fn, id);
    Obj* t = ref(fn, target);
    if (m->is_static != is_static) misuse(fn, std::string("method ") + m->name + (m->is_static ? " is static" : " is not static"));
    if (return_type(m) != ret) misuse(fn, std::string("method ") + m->name + m->sig + " called as returning " + ret);
    if (std::strcmp(m->name, "<init>") == 0) misuse(fn, "constructor called as a method");
    const ClassInfo* owner = find_class_info(m->cls);
    const ClassInfo* cls;
    Obj* self = nullptr;
    if (is_static) {
        if (t->kind != Kind::Class) bad_call(fn, "class argument is not a class");
        cls = t->cls;
    } else {
        self = t;
        cls = t->kind == Kind::Class ? find_class_info("java/lang/Object") : t->cls;
    }
    if (!is_subclass(cls, owner)) misuse(fn, std::string("method of ") + m->cls + " called on " + cls->name);
    std::vector<jvalue> args = given ? *given : ap ? args_from_va(m, *ap) : args_from_array(fn, m, arr);
    jvalue result = invoke(e, fn, m, is_static ? cls : owner, self, args);
    if (ret == 'L') local<jobject>(e, reinterpret_cast<Obj*>(result.l));
    return result;
}

// ---------------------------------------------------------------------------
// JNI functions.

jint JNICALL jni_GetVersion(JNIEnv* env) {
    enter(env, "GetVersion");
    return g_cfg.jni_version;
}

jclass JNICALL jni_FindClass(JNIEnv* env, const char* name) {
    EnvRec* e = enter(env, "FindClass");
    if (!name) bad_call("FindClass", "null name");
    Event("find_class").str16("name", utf8_to_utf16(name, std::strlen(name))).num("thread", tid()).emit();
    const ClassInfo* c = find_class_info(name);
    if (!c) {
        throw_new(e, "java/lang/NoClassDefFoundError", utf16_to_utf8(utf8_to_utf16(name, std::strlen(name))));
        return nullptr;
    }
    return local<jclass>(e, class_obj(c));
}

jthrowable JNICALL jni_ExceptionOccurred(JNIEnv* env) {
    EnvRec* e = enter(env, "ExceptionOccurred", true);
    return local<jthrowable>(e, e->pending);
}

jboolean JNICALL jni_ExceptionCheck(JNIEnv* env) {
    return enter(env, "ExceptionCheck", true)->pending ? JNI_TRUE : JNI_FALSE;
}

void JNICALL jni_ExceptionClear(JNIEnv* env) { enter(env, "ExceptionClear", true)->pending = nullptr; }

jint JNICALL jni_Throw(JNIEnv* env, jthrowable t) {
    EnvRec* e = enter(env, "Throw", true);
    Obj* thrown = ref("Throw", t);
    if (thrown->kind != Kind::Throwable) bad_call("Throw", "not a throwable");
    e->pending = thrown;
    return JNI_OK;
}

void JNICALL jni_ExceptionDescribe(JNIEnv* env) {
    EnvRec* e = enter(env, "ExceptionDescribe", true);
    Obj* t = e->pending;
    if (!t) return;
    e->pending = nullptr;
    // Like a real runtime this goes through System.err, redirected or not.
    std::string text = "Exception in thread \"" + e->thread_name + "\" " + utf16_to_utf8(stack_trace(t));
    Event("describe")
        .str16("text", throwable_string(t))
        .str("output", text)
        .str("class", t->cls->name)
        .num("thread", tid())
        .emit();
    write_system_stream(true, text);
}

jint JNICALL jni_PushLocalFrame(JNIEnv* env, jint capacity) {
    enter(env, "PushLocalFrame", true);
    if (capacity < 0) bad_call("PushLocalFrame", "negative capacity");
    return JNI_OK;
}

jobject JNICALL jni_PopLocalFrame(JNIEnv* env, jobject result) {
    enter(env, "PopLocalFrame", true);
    ref("PopLocalFrame", result, true);
    return result;
}

jobject JNICALL jni_NewGlobalRef(JNIEnv* env, jobject o) {
    enter(env, "NewGlobalRef");
    return jref<jobject>(ref("NewGlobalRef", o, true));
}

void JNICALL jni_DeleteGlobalRef(JNIEnv* env, jobject o) {
    enter(env, "DeleteGlobalRef", true);
    ref("DeleteGlobalRef", o, true);
}

void JNICALL jni_DeleteLocalRef(JNIEnv* env, jobject o) {
    EnvRec* e = enter(env, "DeleteLocalRef", true);
    Obj* obj = ref("DeleteLocalRef", o, true);
    if (!obj) return;
    auto live = e->locals.find(obj);
    if (live == e->locals.end()) {
        misuse("DeleteLocalRef", "not a live local reference of this thread");
        return;
    }
    if (--live->second == 0) e->locals.erase(live);
}

jobject new_object(JNIEnv* env, const char* fn, jclass clazz, jmethodID id, va_list* ap, const jvalue* arr) {
    EnvRec* e = enter(env, fn);
    const MethodInfo* m = method_ref(fn, id);
    Obj* c = ref_of(fn, clazz, Kind::Class);
    if (std::strcmp(m->name, "<init>") != 0) misuse(fn, std::string("method ") + m->name + " is not a constructor");
    if (!is(c->cls, m->cls)) misuse(fn, std::string("constructor of ") + m->cls + " used for " + c->cls->name);
    if (c->cls->instances == Kind::Throwable) bad_call(fn, "constructing throwables is not scripted");
    std::vector<jvalue> args = ap ? args_from_va(m, *ap) : args_from_array(fn, m, arr);
    Obj* o = new_obj(c->cls->instances, c->cls);
    invoke(e, fn, m, c->cls, o, args);
    return e->pending ? nullptr : local<jobject>(e, o);
}

jobject JNICALL jni_NewObject(JNIEnv* env, jclass c, jmethodID id, ...) {
    va_list ap;
    va_start(ap, id);
    jobject r = new_object(env, "NewObject", c, id, &ap, nullptr);
    va_end(ap);
    return r;
}

jobject JNICALL jni_NewObjectV(JNIEnv* env, jclass c, jmethodID id, va_list ap) {
    va_list copy;
    va_copy(copy, ap);
    jobject r = new_object(env, "NewObjectV", c, id, &copy, nullptr);
    va_end(copy);
    return r;
}

jobject JNICALL jni_NewObjectA(JNIEnv* env, jclass c, jmethodID id, const jvalue* a) {
    return new_object(env, "NewObjectA", c, id, nullptr, a);
}

jclass JNICALL jni_GetObjectClass(JNIEnv* env, jobject o) {
    EnvRec* e = enter(env, "GetObjectClass");
    Obj* obj = ref("GetObjectClass", o);
    const ClassInfo* c = obj->kind == Kind::Class || obj->kind == Kind::CharArray || obj->kind == Kind::ObjectArray
                             ? find_class_info("java/lang/Object")
                             : obj->cls;
    return local<jclass>(e, class_obj(c));
}

jmethodID lookup_method(JNIEnv* env, const char* fn, jclass clazz, const char* name, const char* sig, bool is_static) {
    EnvRec* e = enter(env, fn);
    Obj* c = ref_of(fn, clazz, Kind::Class);
    if (!name || !sig) bad_call(fn, "null name or signature");
    bool ctor = std::strcmp(name, "<init>") == 0;
    for (const ClassInfo* k = c->cls; k; k = k->super ? find_class_info(k->super) : nullptr) {
        for (const MethodInfo& m : kMethods) {
            if (is(k, m.cls) && m.is_static == is_static && std::strcmp(m.name, name) == 0 &&
                std::strcmp(m.sig, sig) == 0) {
                return reinterpret_cast<jmethodID>(const_cast<MethodInfo*>(&m));
            }
        }
        if (ctor) break;  // constructors are not inherited
    }
    if (is_static && g_quiet_missing_method) return nullptr;
    throw_new(e, "java/lang/NoSuchMethodError", name);
    return nullptr;
}

jmethodID JNICALL jni_GetMethodID(JNIEnv* env, jclass c, const char* name, const char* sig) {
    return lookup_method(env, "GetMethodID", c, name, sig, false);
}

jmethodID JNICALL jni_GetStaticMethodID(JNIEnv* env, jclass c, const char* name, const char* sig) {
    return lookup_method(env, "GetStaticMethodID", c, name, sig, true);
}

#define CALL_FORMS(Name, Ret, is_static, rc, Target, field)                                        \
    Ret JNICALL jni_##Name(JNIEnv* env, Target t, jmethodID id, ...) {                            \
        va_list ap;                                                                                \
        va_start(ap, id);                                                                          \
        jvalue r = call(env, #Name, is_static, rc, t, id, nullptr, &ap, nullptr);                  \
        va_end(ap);                                                                                \
        return (Ret)r.field;                                                                       \
    }                                                                                              \
    Ret JNICALL jni_##Name##V(JNIEnv* env, Target t, jmethodID id, va_list ap) {                  \
        va_list copy;                                                                              \
        va_copy(copy, ap);                                                                         \
        jvalue r = call(env, #Name "V", is_static, rc, t, id, nullptr, &copy, nullptr);            \
        va_end(copy);                                                                              \
        return (Ret)r.field;                                                                       \
    }                                                                                              \
    Ret JNICALL jni_##Name##A(JNIEnv* env, Target t, jmethodID id, const jvalue* a) {             \
        jvalue r = call(env, #Name "A", is_static, rc, t, id, nullptr, nullptr, a);                \
        return (Ret)r.field;                                                                       \
    }

CALL_FORMS(CallObjectMethod, jobject, false, 'L', jobject, l)
CALL_FORMS(CallStaticIntMethod, jint, true, 'I', jclass, i)
CALL_FORMS(CallStaticObjectMethod, jobject, true, 'L', jclass, l)
CALL_FORMS(CallBooleanMethod, jboolean, false, 'Z', jobject, z)
#undef CALL_FORMS

#define CALL_VOID_FORMS(Name, is_static, Target)                                                   \
    void JNICALL jni_##Name(JNIEnv* env, Target t, jmethodID id, ...) {                           \
        va_list ap;                                                                                \
        va_start(ap, id);                                                                          \
        call(env, #Name, is_static, 'V', t, id, nullptr, &ap, nullptr);                            \
        va_end(ap);                                                                                \
    }                                                                                              \
    void JNICALL jni_##Name##V(JNIEnv* env, Target t, jmethodID id, va_list ap) {                 \
        va_list copy;                                                                              \
        va_copy(copy, ap);                                                                         \
        call(env, #Name "V", is_static, 'V', t, id, nullptr, &copy, nullptr);                      \
        va_end(copy);                                                                              \
    }                                                                                              \
    void JNICALL jni_##Name##A(JNIEnv* env, Target t, jmethodID id, const jvalue* a) {            \
        call(env, #Name "A", is_static, 'V', t, id, nullptr, nullptr, a);                          \
    }

CALL_VOID_FORMS(CallVoidMethod, false, jobject)
CALL_VOID_FORMS(CallStaticVoidMethod, true, jclass)
#undef CALL_VOID_FORMS

Obj* new_string(std::u16string text) {
    Obj* s = new_obj(Kind::String, find_class_info("java/lang/String"));
    s->text = std::move(text);
    return s;
}

jstring JNICALL jni_NewString(JNIEnv* env, const jchar* chars, jsize len) {
    EnvRec* e = enter(env, "NewString");
    if (len < 0 || (len > 0 && !chars)) bad_call("NewString", "bad buffer");
    return local<jstring>(e, new_string(std::u16string(reinterpret_cast<const char16_t*>(chars), static_cast<size_t>(len))));
}

jstring JNICALL jni_NewStringUTF(JNIEnv* env, const char* utf) {
    EnvRec* e = enter(env, "NewStringUTF");
    if (!utf) return nullptr;
    return local<jstring>(e, new_string(utf8_to_utf16(utf, std::strlen(utf))));
}

jsize JNICALL jni_GetStringLength(JNIEnv* env, jstring s) {
    enter(env, "GetStringLength");
    return static_cast<jsize>(ref_of("GetStringLength", s, Kind::String)->text.size());
}

const jchar* JNICALL jni_GetStringChars(JNIEnv* env, jstring s, jboolean* is_copy) {
    enter(env, "GetStringChars");
    const std::u16string& t = ref_of("GetStringChars", s, Kind::String)->text;
    auto* buf = static_cast<jchar*>(std::malloc((t.size() + 1) * sizeof(jchar)));
    std::memcpy(buf, t.data(), t.size() * sizeof(jchar));
    buf[t.size()] = 0;
    if (is_copy) *is_copy = JNI_TRUE;
    return buf;
}

void JNICALL jni_ReleaseStringChars(JNIEnv* env, jstring s, const jchar* chars) {
    enter(env, "ReleaseStringChars", true);
    ref_of("ReleaseStringChars", s, Kind::String);
    std::free(const_cast<jchar*>(chars));
}

jsize JNICALL jni_GetStringUTFLength(JNIEnv* env, jstring s) {
    enter(env, "GetStringUTFLength");
    return static_cast<jsize>(utf16_to_mutf8(ref_of("GetStringUTFLength", s, Kind::String)->text).size());
}

const char* JNICALL jni_GetStringUTFChars(JNIEnv* env, jstring s, jboolean* is_copy) {
    EnvRec* e = enter(env, "GetStringUTFChars");
    if (injected_out_of_memory(e, "GetStringUTFChars")) return nullptr;
    std::string m = utf16_to_mutf8(ref_of("GetStringUTFChars", s, Kind::String)->text);
    char* buf = static_cast<char*>(std::malloc(m.size() + 1));
    std::memcpy(buf, m.c_str(), m.size() + 1);
    if (is_copy) *is_copy = JNI_TRUE;
    return buf;
}

void JNICALL jni_ReleaseStringUTFChars(JNIEnv* env, jstring s, const char* chars) {
    enter(env, "ReleaseStringUTFChars", true);
    ref_of("ReleaseStringUTFChars", s, Kind::String);
    std::free(const_cast<char*>(chars));
}

void JNICALL jni_GetStringRegion(JNIEnv* env, jstring s, jsize start, jsize len, jchar* buf) {
    EnvRec* e = enter(env, "GetStringRegion");
    const std::u16string& t = ref_of("GetStringRegion", s, Kind::String)->text;
    if (start < 0 || len < 0 || static_cast<size_t>(start) + static_cast<size_t>(len) > t.size()) {
        throw_new(e, "java/lang/StringIndexOutOfBoundsException", "start " + std::to_string(start) + ", length " +
                                                                     std::to_string(len) + ", string length " +
                                                                     std::to_string(t.size()));
        return;
    }
    if (len > 0 && !buf) bad_call("GetStringRegion", "null buffer");
    std::memcpy(buf, t.data() + start, static_cast<size_t>(len) * sizeof(jchar));
}

jsize JNICALL jni_GetArrayLength(JNIEnv* env, jarray a) {
    enter(env, "GetArrayLength");
    Obj* o = ref("GetArrayLength", a);
    if (o->kind == Kind::CharArray) return static_cast<jsize>(o->text.size());
    if (o->kind == Kind::ObjectArray) return static_cast<jsize>(o->elems.size());
    bad_call("GetArrayLength", "not an array");
}

jobjectArray JNICALL jni_NewObjectArray(JNIEnv* env, jsize len, jclass elem, jobject init) {
    EnvRec* e = enter(env, "NewObjectArray");
    Obj* c = ref_of("NewObjectArray", elem, Kind::Class);
    Obj* v = ref("NewObjectArray", init, true);
    if (injected_out_of_memory(e, "NewObjectArray")) return nullptr;
    if (len < 0) {
        throw_new(e, "java/lang/NegativeArraySizeException", std::to_string(len));
        return nullptr;
    }
    Obj* a = new_obj(Kind::ObjectArray, find_class_info("java/lang/Object"));
    a->elem_cls = c->cls;
    a->elems.assign(static_cast<size_t>(len), v);
    return local<jobjectArray>(e, a);
}

bool array_index_ok(EnvRec* e, const Obj* a, jsize i) {
    if (i >= 0 && static_cast<size_t>(i) < a->elems.size()) return true;
    throw_new(e, "java/lang/ArrayIndexOutOfBoundsException",
              "Index " + std::to_string(i) + " out of bounds for length " + std::to_string(a->elems.size()));
    return false;
}

jobject JNICALL jni_GetObjectArrayElement(JNIEnv* env, jobjectArray arr, jsize i) {
    EnvRec* e = enter(env, "GetObjectArrayElement");
    Obj* a = ref_of("GetObjectArrayElement", arr, Kind::ObjectArray);
    return array_index_ok(e, a, i) ? local<jobject>(e, a->elems[static_cast<size_t>(i)]) : nullptr;
}

void JNICALL jni_SetObjectArrayElement(JNIEnv* env, jobjectArray arr, jsize i, jobject v) {
    EnvRec* e = enter(env, "SetObjectArrayElement");
    Obj* a = ref_of("SetObjectArrayElement", arr, Kind::ObjectArray);
    Obj* o = ref("SetObjectArrayElement", v, true);
    if (!array_index_ok(e, a, i)) return;
    if (o && o->kind != Kind::Class && o->kind != Kind::CharArray && o->kind != Kind::ObjectArray &&
        !is_subclass(o->cls, a->elem_cls)) {
        throw_new(e, "java/lang/ArrayStoreException", dotted(o->cls->name));
        return;
    }
    a->elems[static_cast<size_t>(i)] = o;
}

jcharArray JNICALL jni_NewCharArray(JNIEnv* env, jsize len) {
    EnvRec* e = enter(env, "NewCharArray");
    if (injected_out_of_memory(e, "NewCharArray")) return nullptr;
    if (len < 0) {
        throw_new(e, "java/lang/NegativeArraySizeException", std::to_string(len));
        return nullptr;
    }
    Obj* a = new_obj(Kind::CharArray, find_class_info("java/lang/Object"));
    a->text.assign(static_cast<size_t>(len), u'\0');
    return local<jcharArray>(e, a);
}

void JNICALL jni_SetCharArrayRegion(JNIEnv* env, jcharArray arr, jsize start, jsize len, const jchar* buf) {
    EnvRec* e = enter(env, "SetCharArrayRegion");
    Obj* a = ref_of("SetCharArrayRegion", arr, Kind::CharArray);
    if (start < 0 || len < 0 || static_cast<size_t>(start) + static_cast<size_t>(len) > a->text.size()) {
        throw_new(e, "java/lang/ArrayIndexOutOfBoundsException",
                  "Array region " + std::to_string(start) + ".." + std::to_string(static_cast<long long>(start) + len) +
                      " out of bounds for length " + std::to_string(a->text.size()));
        return;
    }
    if (len > 0 && !buf) bad_call("SetCharArrayRegion", "null buffer");
    std::memcpy(&a->text[static_cast<size_t>(start)], buf, static_cast<size_t>(len) * sizeof(jchar));
}

// ---------------------------------------------------------------------------
// Invocation interface.

bool supported_version(jint v) {
    return v == JNI_VERSION_1_2 || v == JNI_VERSION_1_4 || v == JNI_VERSION_1_6 || v == JNI_VERSION_1_8 ||
           v == JNI_VERSION_9 || v == JNI_VERSION_10;
}

// Threads other than the caller that are attached (not as daemons) and
// still alive.
int live_attached_threads() {
    int count = 0;
    EnterCriticalSection(&g_lock);
    for (const auto& entry : g_envs) {
        const EnvRec* e = entry.second;
        if (e->tid == tid() || !e->attached || e->daemon) continue;
        HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, e->tid);
        if (!thread) continue;
        if (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) ++count;
        CloseHandle(thread);
    }
    LeaveCriticalSection(&g_lock);
    return count;
}

jint JNICALL vm_DestroyJavaVM(JavaVM* vm) {
    if (vm != &g_vm) bad_call("DestroyJavaVM", "not the JavaVM of this runtime");
    // As a real runtime does, wait for the other attached threads (bounded,
    // so a thread left attached shows in the record instead of a hang).
    DWORD start = GetTickCount();
    int waiting = 0;
    while ((waiting = live_attached_threads()) > 0 && GetTickCount() - start < 30000) Sleep(5);
    g_shutting_down = true;
    Event("destroy")
        .num("thread", tid())
        .num("still_attached", waiting)
        .boolean("splash", own_splash_visible())
        .emit();
    if (g_cfg.destroy_sleep_ms > 0) Sleep(static_cast<DWORD>(g_cfg.destroy_sleep_ms));
    EnterCriticalSection(&g_lock);
    g_vm_state = VmState::Destroyed;
    LeaveCriticalSection(&g_lock);
    return JNI_OK;
}

jint attach(JavaVM* vm, void** penv, void* args, bool daemon) {
    const char* fn = daemon ? "AttachCurrentThreadAsDaemon" : "AttachCurrentThread";
    if (vm != &g_vm) bad_call(fn, "not the JavaVM of this runtime");
    if (!penv) bad_call(fn, "null env pointer");
    EnterCriticalSection(&g_lock);
    VmState state = g_vm_state;
    LeaveCriticalSection(&g_lock);
    // A real runtime refuses an attach once its machine is gone (a
    // hand-over that comes too late); before there was one, make the
    // mistake loud.
    if (state == VmState::Destroyed) {
        Event("attach_refused").num("thread", tid()).emit();
        return JNI_ERR;
    }
    if (state != VmState::Live) bad_call(fn, "no virtual machine");
    EnvRec* e = env_for_current_thread();
    bool already = e && e->attached;
    std::string name;
    Event ev("attach");
    ev.num("thread", tid()).boolean("daemon", daemon).boolean("already", already);
    if (args) {
        auto* a = static_cast<JavaVMAttachArgs*>(args);
        ev.num("version", a->version);
        if (a->name) {
            name = a->name;
            ev.str16("name", utf8_to_utf16(name));
        }
    }
    ev.emit();
    if (!already) {
        e = attach_current_thread(name);
        e->daemon = daemon;
    }
    *penv = e;
    return JNI_OK;
}

jint JNICALL vm_AttachCurrentThread(JavaVM* vm, void** penv, void* args) { return attach(vm, penv, args, false); }

jint JNICALL vm_AttachCurrentThreadAsDaemon(JavaVM* vm, void** penv, void* args) {
    return attach(vm, penv, args, true);
}

jint JNICALL vm_DetachCurrentThread(JavaVM* vm) {
    if (vm != &g_vm) bad_call("DetachCurrentThread", "not the JavaVM of this runtime");
    if (injected_failure("DetachCurrentThread")) return JNI_ERR;
    EnvRec* e = env_for_current_thread();
    Event ev("detach");
    ev.num("thread", tid()).boolean("attached", e != nullptr);
    if (e) {
        long long live = 0;
        for (const auto& entry : e->locals) live += entry.second;
        ev.num("live_locals", live);
    }
    // Like a real runtime, an exception still pending goes to the uncaught-
    // exception handler, whose default prints it on System.err.
    if (e && e->pending) {
        std::string text = "Exception in thread \"" + e->thread_name + "\" " + utf16_to_utf8(stack_trace(e->pending));
        ev.str("uncaught", text);
        write_system_stream(true, text);
        e->pending = nullptr;
    }
    ev.emit();
    if (e) {
        EnterCriticalSection(&g_lock);
        e->attached = false;
        g_envs.erase(e->tid);
        LeaveCriticalSection(&g_lock);
    }
    return JNI_OK;
}

jint JNICALL vm_GetEnv(JavaVM* vm, void** penv, jint version) {
    if (vm != &g_vm) bad_call("GetEnv", "not the JavaVM of this runtime");
    if (!penv) bad_call("GetEnv", "null env pointer");
    EnvRec* e = env_for_current_thread();
    *penv = nullptr;
    if (!e) return JNI_EDETACHED;
    if (!supported_version(version) && version != JNI_VERSION_1_1) return JNI_EVERSION;
    *penv = e;
    return JNI_OK;
}

// ---------------------------------------------------------------------------
// Tables: every slot first gets its own terminating stub, then the implemented
// functions are put in. One stub per slot keeps the slot number known and never
// returns, so the stdcall argument cleanup of the real signature cannot matter.

constexpr size_t kEnvSlots = sizeof(JNINativeInterface_) / sizeof(void*);
constexpr size_t kVmSlots = sizeof(JNIInvokeInterface_) / sizeof(void*);
static_assert(sizeof(JNINativeInterface_) % sizeof(void*) == 0, "function table is not all pointers");
static_assert(kEnvSlots == sizeof(kEnvSlotNames) / sizeof(kEnvSlotNames[0]), "slot names out of date");
static_assert(kVmSlots == sizeof(kVmSlotNames) / sizeof(kVmSlotNames[0]), "slot names out of date");

template <size_t N>
void JNICALL env_stub() {
    unexpected_slot("env", static_cast<int>(N), kEnvSlotNames[N]);
}

template <size_t N>
void JNICALL vm_stub() {
    unexpected_slot("vm", static_cast<int>(N), kVmSlotNames[N]);
}

template <size_t... I>
void fill_env_stubs(void** slots, std::index_sequence<I...>) {
    ((slots[I] = reinterpret_cast<void*>(&env_stub<I>)), ...);
}

template <size_t... I>
void fill_vm_stubs(void** slots, std::index_sequence<I...>) {
    ((slots[I] = reinterpret_cast<void*>(&vm_stub<I>)), ...);
}

void build_tables() {
    void* env_slots[kEnvSlots];
    fill_env_stubs(env_slots, std::make_index_sequence<kEnvSlots>{});
    std::memcpy(&g_env_table, env_slots, sizeof g_env_table);
    void* vm_slots[kVmSlots];
    fill_vm_stubs(vm_slots, std::make_index_sequence<kVmSlots>{});
    std::memcpy(&g_vm_table, vm_slots, sizeof g_vm_table);

    JNINativeInterface_& t = g_env_table;
    t.GetVersion = jni_GetVersion;
    t.FindClass = jni_FindClass;
    t.ExceptionOccurred = jni_ExceptionOccurred;
    t.ExceptionDescribe = jni_ExceptionDescribe;
    t.ExceptionClear = jni_ExceptionClear;
    t.Throw = jni_Throw;
    t.ExceptionCheck = jni_ExceptionCheck;
    t.PushLocalFrame = jni_PushLocalFrame;
    t.PopLocalFrame = jni_PopLocalFrame;
    t.NewGlobalRef = jni_NewGlobalRef;
    t.DeleteGlobalRef = jni_DeleteGlobalRef;
    t.DeleteLocalRef = jni_DeleteLocalRef;
    t.NewObject = jni_NewObject;
    t.NewObjectV = jni_NewObjectV;
    t.NewObjectA = jni_NewObjectA;
    t.GetObjectClass = jni_GetObjectClass;
    t.GetMethodID = jni_GetMethodID;
    t.CallObjectMethod = jni_CallObjectMethod;
    t.CallObjectMethodV = jni_CallObjectMethodV;
    t.CallObjectMethodA = jni_CallObjectMethodA;
    t.CallVoidMethod = jni_CallVoidMethod;
    t.CallVoidMethodV = jni_CallVoidMethodV;
    t.CallVoidMethodA = jni_CallVoidMethodA;
    t.GetStaticMethodID = jni_GetStaticMethodID;
    t.CallStaticIntMethod = jni_CallStaticIntMethod;
    t.CallStaticObjectMethod = jni_CallStaticObjectMethod;
    t.CallStaticObjectMethodV = jni_CallStaticObjectMethodV;
    t.CallStaticObjectMethodA = jni_CallStaticObjectMethodA;
    t.CallBooleanMethod = jni_CallBooleanMethod;
    t.CallBooleanMethodV = jni_CallBooleanMethodV;
    t.CallBooleanMethodA = jni_CallBooleanMethodA;
    t.CallStaticIntMethodV = jni_CallStaticIntMethodV;
    t.CallStaticIntMethodA = jni_CallStaticIntMethodA;
    t.CallStaticVoidMethod = jni_CallStaticVoidMethod;
    t.CallStaticVoidMethodV = jni_CallStaticVoidMethodV;
    t.CallStaticVoidMethodA = jni_CallStaticVoidMethodA;
    t.NewString = jni_NewString;
    t.GetStringLength = jni_GetStringLength;
    t.GetStringChars = jni_GetStringChars;
    t.ReleaseStringChars = jni_ReleaseStringChars;
    t.NewStringUTF = jni_NewStringUTF;
    t.GetStringUTFLength = jni_GetStringUTFLength;
    t.GetStringUTFChars = jni_GetStringUTFChars;
    t.ReleaseStringUTFChars = jni_ReleaseStringUTFChars;
    t.GetStringRegion = jni_GetStringRegion;
    t.GetArrayLength = jni_GetArrayLength;
    t.NewObjectArray = jni_NewObjectArray;
    t.GetObjectArrayElement = jni_GetObjectArrayElement;
    t.SetObjectArrayElement = jni_SetObjectArrayElement;
    t.NewCharArray = jni_NewCharArray;
    t.SetCharArrayRegion = jni_SetCharArrayRegion;

    g_vm_table.DestroyJavaVM = vm_DestroyJavaVM;
    g_vm_table.AttachCurrentThread = vm_AttachCurrentThread;
    g_vm_table.DetachCurrentThread = vm_DetachCurrentThread;
    g_vm_table.GetEnv = vm_GetEnv;
    g_vm_table.AttachCurrentThreadAsDaemon = vm_AttachCurrentThreadAsDaemon;
    g_vm.functions = &g_vm_table;
}

// Bytes of stack reserved for the calling thread. (GCC misreads the TEB access
// in the MinGW headers as an out-of-bounds array read.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
long long stack_reserve() {
    auto* tib = reinterpret_cast<NT_TIB*>(NtCurrentTeb());
    MEMORY_BASIC_INFORMATION mbi;
    std::memset(&mbi, 0, sizeof mbi);
    VirtualQuery(&mbi, &mbi, sizeof mbi);
    return static_cast<const char*>(tib->StackBase) - static_cast<const char*>(mbi.AllocationBase);
}
#pragma GCC diagnostic pop

void hook_print_to(jint(JNICALL* hook)(FILE*, const char*, va_list), FILE* stream, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    hook(stream, format, arguments);
    va_end(arguments);
}

void hook_print(jint(JNICALL* hook)(FILE*, const char*, va_list), const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    hook(stderr, format, arguments);
    va_end(arguments);
}

bool recognised_option(const char* o) {
    static const char* const kNonDash[] = {"abort", "exit", "vfprintf"};
    // Logging, and the archive options the start-up cache adds, as a
    // current runtime takes them; other advanced options stay unknown.
    static const char* const kXPrefixes[] = {"-Xmx", "-Xms", "-Xss", "-Xlog",
                                             "-XX:SharedArchiveFile=", "-XX:ArchiveClassesAtExit=",
                                             "-XX:+AutoCreateSharedArchive", "-XX:AOTCache=", "-XX:AOTMode=",
                                             "-XX:AOTConfiguration=", "-XX:+UnlockDiagnosticVMOptions",
                                             "-XX:-DisplayVMOutput", "-XX:DumpLoadedClassList="};
    static const char* const kXExact[] = {"-Xrs", "-Xcheck:jni", "-Xint"};
    if (o[0] != '-') {
        for (const char* k : kNonDash) {
            if (std::strcmp(o, k) == 0) return true;
        }
        return false;
    }
    if (std::strncmp(o, "-X", 2) != 0) return true;
    for (const char* k : kXPrefixes) {
        if (std::strncmp(o, k, std::strlen(k)) == 0) return true;
    }
    for (const char* k : kXExact) {
        if (std::strcmp(o, k) == 0) return true;
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Exports.

extern "C" {

JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* args) {
    if (!args) bad_call("JNI_GetDefaultJavaVMInitArgs", "null arguments");
    jint version = *static_cast<jint*>(args);
    Event("default_args").num("version", version).num("thread", tid()).emit();
    if (version == JNI_VERSION_1_1) {
        static_cast<JDK1_1InitArgs*>(args)->javaStackSize = g_cfg.default_stack;
        return g_cfg.default_args_result;
    }
    return supported_version(version) ? JNI_OK : JNI_EVERSION;
}

JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* args) {
    if (!pvm || !penv || !args) bad_call("JNI_CreateJavaVM", "null argument");
    *pvm = nullptr;
    *penv = nullptr;
    auto* a = static_cast<JavaVMInitArgs*>(args);
    if (g_cfg.create_sleep_ms > 0) Sleep(static_cast<DWORD>(g_cfg.create_sleep_ms));
    Event ev("create");
    ev.num("version", a->version);
    jint result = JNI_OK;
    if (!supported_version(a->version)) {
        // Other versions (1.1) use a different record layout: nothing more to read.
        ev.boolean("ignore_unrecognized", false).raw("options", "[]").raw("extra", "[]");
        result = JNI_EVERSION;
    } else {
        ev.boolean("ignore_unrecognized", a->ignoreUnrecognized != JNI_FALSE);
        if (a->nOptions > 0 && !a->options) bad_call("JNI_CreateJavaVM", "null options");
        std::string options = "[", extra = "[", unrecognised = "[";
        void(JNICALL * exit_hook)(jint) = nullptr;
        void(JNICALL * abort_hook)() = nullptr;
        jint(JNICALL * print_hook)(FILE*, const char*, va_list) = nullptr;
        std::string first_bad;
        bool heap_too_large = false;
        bool bad_option = false;
        for (jint i = 0; i < a->nOptions; ++i) {
            const JavaVMOption& o = a->options[i];
            if (!o.optionString) bad_call("JNI_CreateJavaVM", "null option string");
            std::string text = json_string(utf16_to_utf8(ansi_to_utf16(o.optionString)));
            options += (i ? "," : "") + text;
            extra += std::string(i ? "," : "") + (o.extraInfo ? "\"hook\"" : "null");
            if (std::strcmp(o.optionString, "exit") == 0)
                exit_hook = reinterpret_cast<void(JNICALL*)(jint)>(o.extraInfo);
            static const char kUserOptions[] = "-Dveda.launcher.vmoptions=";
            if (std::strncmp(o.optionString, kUserOptions, sizeof kUserOptions - 1) == 0)
                g_user_options_file = to_wide(ansi_to_utf16(o.optionString + sizeof kUserOptions - 1));
            if (std::strcmp(o.optionString, "abort") == 0)
                abort_hook = reinterpret_cast<void(JNICALL*)()>(o.extraInfo);
            if (std::strcmp(o.optionString, "vfprintf") == 0)
                print_hook = reinterpret_cast<jint(JNICALL*)(FILE*, const char*, va_list)>(o.extraInfo);
            // A heap of a terabyte or more cannot be reserved.
            if (std::strncmp(o.optionString, "-Xmx", 4) == 0) {
                char* unit = nullptr;
                double size = std::strtod(o.optionString + 4, &unit);
                double scale = *unit == 'g' || *unit == 'G' ? 1024.0 : *unit == 't' || *unit == 'T' ? 1048576.0 : 0;
                heap_too_large = size * scale >= 1048576.0;
            }
            // A runtime lists the classes it loads as it goes.
            static const char kClassList[] = "-XX:DumpLoadedClassList=";
            if (std::strncmp(o.optionString, kClassList, sizeof kClassList - 1) == 0) {
                if (FILE* list = std::fopen(o.optionString + sizeof kClassList - 1, "wb")) {
                    std::fputs("java/lang/Object\n", list);
                    std::fclose(list);
                }
            }
            if (!recognised_option(o.optionString)) {
                unrecognised += (unrecognised.size() > 1 ? "," : "") + text;
                if (!bad_option) first_bad = o.optionString;
                bad_option = true;
            }
        }
        ev.raw("options", options + "]").raw("extra", extra + "]").raw("unrecognized", unrecognised + "]");
        // A log file of the runtime's own (-Xlog:...:file=<path>): written
        // through the print hook with a stream of the runtime's C library.
        for (jint i = 0; i < a->nOptions && print_hook; ++i) {
            const char* o = a->options[i].optionString;
            const char* file = std::strncmp(o, "-Xlog:", 6) == 0 ? std::strstr(o, ":file=") : nullptr;
            if (!file) continue;
            if (FILE* log = std::fopen(file + 6, "w")) {
                hook_print_to(print_hook, log, "[info][gc] Using %s\n", "Serial");
                std::fclose(log);
            }
        }
        // As a runtime reports: in its own words, through the print hook.
        if (bad_option && !a->ignoreUnrecognized && print_hook)
            hook_print(print_hook, "Unrecognized option: %s\n", first_bad.c_str());
        if (heap_too_large && !bad_option) {
            // Creation ends the process itself, through the abort hook.
            if (print_hook)
                hook_print(print_hook, "Error occurred during initialization of VM\n%s\n",
                           "Could not reserve enough space for object heap");
            ev.num("result", -100).emit();
            if (abort_hook) abort_hook();
            ExitProcess(1);
        }
        if (bad_option && !a->ignoreUnrecognized) result = JNI_ERR;
        EnterCriticalSection(&g_lock);
        if (result == JNI_OK && g_vm_state == VmState::Live) result = JNI_EEXIST;
        if (result == JNI_OK && g_vm_state == VmState::Destroyed) result = JNI_ERR;  // no second VM per process
        if (g_cfg.create_result != 0) result = g_cfg.create_result;
        if (result == JNI_OK) {
            g_vm_state = VmState::Live;
            g_exit_hook = exit_hook;
        }
        LeaveCriticalSection(&g_lock);
    }
    DWORD me = tid();
    ev.num("thread", me).num("stack_reserve", stack_reserve()).boolean("main_thread", me == g_loader_tid);
    ev.num("result", result).emit();
    if (result != JNI_OK) return result;
    EnvRec* e = env_for_current_thread();
    if (!e) e = attach_current_thread("main");
    *pvm = &g_vm;
    *penv = e;
    return JNI_OK;
}

JNIEXPORT jint JNICALL JNI_GetCreatedJavaVMs(JavaVM** buf, jsize len, jsize* n) {
    EnterCriticalSection(&g_lock);
    bool live = g_vm_state == VmState::Live;
    LeaveCriticalSection(&g_lock);
    if (n) *n = live ? 1 : 0;
    if (live && buf && len > 0) buf[0] = &g_vm;
    return JNI_OK;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Unloaded by FreeLibrary rather than at process exit: let go of the
        // files FileOutputStream opened so the caller can remove them.
        for (const void* p : g_objects) {
            auto* o = const_cast<Obj*>(static_cast<const Obj*>(p));
            if (o->kind == Kind::FileOut && o->file != INVALID_HANDLE_VALUE) CloseHandle(o->file);
        }
    }
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        InitializeCriticalSection(&g_record_lock);
        InitializeCriticalSection(&g_lock);
        g_loader_tid = GetCurrentThreadId();
        g_dll_path = own_module_path();
        size_t slash = g_dll_path.find_last_of(L"\\/");
        g_dll_dir = slash == std::wstring::npos ? L"." : g_dll_path.substr(0, slash);
        load_config();
        build_tables();
        Event("loaded")
            .str16("path", from_wide(g_dll_path))
            .num("bits", static_cast<long long>(sizeof(void*) * 8))
            .num("thread", g_loader_tid)
            .emit();
        if (g_cfg.load_dependency) {
            HMODULE dependency = LoadLibraryW(L"standin_dep.dll");
            std::wstring path(MAX_PATH, L'\0');
            DWORD n = dependency ? GetModuleFileNameW(dependency, &path[0], MAX_PATH) : 0;
            path.resize(n);
            Event("dependency").str16("path", from_wide(path)).emit();
        }
    }
    return TRUE;
}

}  // extern "C"
