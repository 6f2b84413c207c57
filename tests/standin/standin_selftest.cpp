// Self-test of the stand-in runtime: loads the built jvm.dll from a scratch
// folder the way the launcher does, drives it through the invocation API and
// JNI, and checks the record file it writes. Scenarios that end the process
// (System.exit, an unplanned JNI call) run in a child copy of this program.
//
//   standin_selftest [path\to\jvm.dll]      (default: jvm.dll beside the exe)

#include <windows.h>

#include <jni.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Minimal harness.

int g_passed = 0;
int g_failed = 0;
bool g_case_ok = true;

void fail(const char* file, int line, const std::string& what) {
    std::printf("%s:%d: Failure\n  %s\n", file, line, what.c_str());
    std::fflush(stdout);
    g_case_ok = false;
}

#define CHECK(cond)                                                        \
    do {                                                                   \
        if (!(cond)) fail(__FILE__, __LINE__, "expected: " #cond);         \
    } while (0)

#define CHECK_EQ(a, b)                                                                    \
    do {                                                                                  \
        auto va_ = (a);                                                                   \
        auto vb_ = (b);                                                                   \
        if (!(va_ == vb_))                                                                \
            fail(__FILE__, __LINE__, std::string(#a " == " #b "\n    left:  ") +        \
                                         show(va_) + "\n    right: " + show(vb_));         \
    } while (0)

std::string show(const std::string& s) { return "\"" + s + "\""; }
std::string show(bool v) { return v ? "true" : "false"; }
template <typename T>
std::enable_if_t<std::is_arithmetic_v<T>, std::string> show(T v) {
    return std::to_string(v);
}
std::string show(const std::vector<std::string>& v) {
    std::string s = "[";
    for (size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + show(v[i]);
    return s + "]";
}

template <typename F>
void run_case(const char* name, F&& body) {
    std::printf("[ RUN      ] %s\n", name);
    std::fflush(stdout);
    g_case_ok = true;
    body();
    std::printf(g_case_ok ? "[       OK ] %s\n" : "[  FAILED  ] %s\n", name);
    std::fflush(stdout);
    (g_case_ok ? g_passed : g_failed)++;
}

// ---------------------------------------------------------------------------
// Text and files.

std::string utf8(const std::wstring& w) {
    if (w.empty()) return "";
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

std::string read_file(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string text;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) text.append(buf, got);
    CloseHandle(h);
    return text;
}

bool write_file(const std::wstring& path, const std::string& text) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(h);
    return written == text.size();
}

std::wstring exe_path() {
    wchar_t buf[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, buf, static_cast<DWORD>(sizeof buf / sizeof buf[0]));
    return std::wstring(buf, n);
}

std::wstring dir_of(const std::wstring& p) {
    size_t slash = p.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"." : p.substr(0, slash);
}

// A fresh scratch folder holding a copy of jvm.dll and the given settings.
// Its name is not ASCII so the runtime's own path handling is exercised too.
void remove_tree(const std::wstring& dir) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring p = dir + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(p);
            } else {
                DeleteFileW(p.c_str());
            }
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(dir.c_str());
}

std::vector<std::wstring> g_scratch_dirs;

std::wstring prepare_dir(const std::wstring& dll, const std::wstring& name, const std::string& cfg) {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    std::wstring dir = std::wstring(tmp) + L"standin-selftest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                       name + L"-\u00e9\u4e2d";
    remove_tree(dir);  // a leftover of an earlier run with the same process id
    CreateDirectoryW(dir.c_str(), nullptr);
    g_scratch_dirs.push_back(dir);
    if (!CopyFileW(dll.c_str(), (dir + L"\\jvm.dll").c_str(), FALSE)) {
        std::printf("cannot copy %s into %s\n", utf8(dll).c_str(), utf8(dir).c_str());
    }
    if (!cfg.empty()) write_file(dir + L"\\standin.cfg", cfg);
    return dir;
}

// ---------------------------------------------------------------------------
// Just enough JSON to read the record.

struct J {
    enum Type { Missing, Null, Bool, Num, Str, Arr, Obj } type = Missing;
    bool b = false;
    double n = 0;
    std::string s;
    std::vector<J> a;
    std::vector<std::pair<std::string, J>> o;

    const J& operator[](const char* key) const {
        static const J missing;
        for (const auto& kv : o) {
            if (kv.first == key) return kv.second;
        }
        return missing;
    }
    long long num() const { return type == Num ? static_cast<long long>(n) : -999999; }
    std::string str() const { return type == Str ? s : type == Null ? "<null>" : "<not a string>"; }
    std::vector<std::string> strs() const {
        std::vector<std::string> v;
        for (const J& e : a) v.push_back(e.str());
        return v;
    }
};

class Parser {
public:
    explicit Parser(const std::string& t) : t_(t) {}
    bool parse(J& out) {
        bool ok = value(out);
        ws();
        return ok && i_ == t_.size();
    }

private:
    void ws() {
        while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\t' || t_[i_] == '\r' || t_[i_] == '\n')) ++i_;
    }
    bool lit(const char* w) {
        size_t n = std::strlen(w);
        if (t_.compare(i_, n, w) != 0) return false;
        i_ += n;
        return true;
    }
    static void put(std::string& s, unsigned c) {
        if (c < 0x80) {
            s += static_cast<char>(c);
        } else if (c < 0x800) {
            s += static_cast<char>(0xC0 | (c >> 6));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            s += static_cast<char>(0xE0 | (c >> 12));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            s += static_cast<char>(0xF0 | (c >> 18));
            s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    bool hex4(unsigned& v) {
        if (i_ + 4 > t_.size()) return false;
        v = static_cast<unsigned>(std::stoul(t_.substr(i_, 4), nullptr, 16));
        i_ += 4;
        return true;
    }
    bool string(std::string& s) {
        if (t_[i_] != '"') return false;
        ++i_;
        while (i_ < t_.size() && t_[i_] != '"') {
            unsigned char c = static_cast<unsigned char>(t_[i_++]);
            if (c < 0x20) return false;  // raw control characters are not valid JSON
            if (c != '\\') {
                s += static_cast<char>(c);
                continue;
            }
            if (i_ >= t_.size()) return false;
            char e = t_[i_++];
            switch (e) {
                case '"': s += '"'; break;
                case '\\': s += '\\'; break;
                case '/': s += '/'; break;
                case 'b': s += '\b'; break;
                case 'f': s += '\f'; break;
                case 'n': s += '\n'; break;
                case 'r': s += '\r'; break;
                case 't': s += '\t'; break;
                case 'u': {
                    unsigned u;
                    if (!hex4(u)) return false;
                    if (u >= 0xD800 && u <= 0xDBFF && lit("\\u")) {
                        unsigned lo;
                        if (!hex4(lo)) return false;
                        u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
                    }
                    put(s, u);
                    break;
                }
                default: return false;
            }
        }
        if (i_ >= t_.size()) return false;
        ++i_;
        return true;
    }
    bool value(J& v) {
        ws();
        if (i_ >= t_.size()) return false;
        char c = t_[i_];
        if (c == '{') {
            v.type = J::Obj;
            ++i_;
            ws();
            if (i_ < t_.size() && t_[i_] == '}') return ++i_, true;
            for (;;) {
                ws();
                std::string k;
                if (i_ >= t_.size() || !string(k)) return false;
                ws();
                if (i_ >= t_.size() || t_[i_++] != ':') return false;
                J member;
                if (!value(member)) return false;
                v.o.emplace_back(k, member);
                ws();
                if (i_ < t_.size() && t_[i_] == ',') { ++i_; continue; }
                if (i_ < t_.size() && t_[i_] == '}') return ++i_, true;
                return false;
            }
        }
        if (c == '[') {
            v.type = J::Arr;
            ++i_;
            ws();
            if (i_ < t_.size() && t_[i_] == ']') return ++i_, true;
            for (;;) {
                J e;
                if (!value(e)) return false;
                v.a.push_back(e);
                ws();
                if (i_ < t_.size() && t_[i_] == ',') { ++i_; continue; }
                if (i_ < t_.size() && t_[i_] == ']') return ++i_, true;
                return false;
            }
        }
        if (c == '"') {
            v.type = J::Str;
            return string(v.s);
        }
        if (lit("true")) { v.type = J::Bool; v.b = true; return true; }
        if (lit("false")) { v.type = J::Bool; v.b = false; return true; }
        if (lit("null")) { v.type = J::Null; return true; }
        size_t start = i_;
        while (i_ < t_.size() && std::strchr("-+.eE0123456789", t_[i_])) ++i_;
        if (start == i_) return false;
        v.type = J::Num;
        v.n = std::stod(t_.substr(start, i_ - start));
        return true;
    }
    const std::string& t_;
    size_t i_ = 0;
};

// The record as a list of events; a line that is not a JSON object fails the case.
std::vector<J> records(const std::wstring& path) {
    std::vector<J> out;
    std::string text = read_file(path);
    if (text == "<missing>") return out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) {
            fail(__FILE__, __LINE__, "record line without newline: " + text.substr(pos));
            break;
        }
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        J j;
        if (!Parser(line).parse(j) || j.type != J::Obj || j["event"].type != J::Str) {
            fail(__FILE__, __LINE__, "record line is not a JSON event: " + line);
            continue;
        }
        out.push_back(j);
    }
    return out;
}

std::vector<J> events(const std::vector<J>& recs, const char* name, size_t from = 0) {
    std::vector<J> out;
    for (size_t i = from; i < recs.size(); ++i) {
        if (recs[i]["event"].str() == name) out.push_back(recs[i]);
    }
    return out;
}

std::vector<std::string> event_names(const std::vector<J>& recs, size_t from = 0) {
    std::vector<std::string> out;
    for (size_t i = from; i < recs.size(); ++i) out.push_back(recs[i]["event"].str());
    return out;
}

// ---------------------------------------------------------------------------
// The runtime under test.

using CreateFn = jint(JNICALL*)(JavaVM**, void**, void*);
using DefaultArgsFn = jint(JNICALL*)(void*);

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

struct Runtime {
    HMODULE module = nullptr;
    CreateFn create = nullptr;
    DefaultArgsFn default_args = nullptr;
    std::wstring dir;
    std::wstring log() const { return dir + L"\\standin.log"; }
};

bool load(Runtime& rt, const std::wstring& dir) {
    rt.dir = dir;
    rt.module = LoadLibraryW((dir + L"\\jvm.dll").c_str());
    if (!rt.module) return false;
    rt.create = reinterpret_cast<CreateFn>(reinterpret_cast<void*>(GetProcAddress(rt.module, "JNI_CreateJavaVM")));
    rt.default_args = reinterpret_cast<DefaultArgsFn>(
        reinterpret_cast<void*>(GetProcAddress(rt.module, "JNI_GetDefaultJavaVMInitArgs")));
    return rt.create && rt.default_args;
}

void JNICALL abort_hook() {}

std::wstring g_hook_file;  // where the exit hook leaves its mark (child scenarios)
void JNICALL exit_hook(jint code) {
    if (!g_hook_file.empty()) write_file(g_hook_file, "hook " + std::to_string(code));
}

// Creates a VM with the given option strings followed by the abort and exit hooks.
jint create_vm(const Runtime& rt, const std::vector<std::string>& opts, JavaVM** vm, JNIEnv** env,
               jboolean ignore = JNI_FALSE, jint version = JNI_VERSION_1_2) {
    std::vector<JavaVMOption> o;
    for (const std::string& s : opts) o.push_back({const_cast<char*>(s.c_str()), nullptr});
    o.push_back({const_cast<char*>("abort"), reinterpret_cast<void*>(&abort_hook)});
    o.push_back({const_cast<char*>("exit"), reinterpret_cast<void*>(&exit_hook)});
    JavaVMInitArgs args;
    args.version = version;
    args.nOptions = static_cast<jint>(o.size());
    args.options = o.data();
    args.ignoreUnrecognized = ignore;
    *vm = nullptr;
    *env = nullptr;
    return rt.create(vm, reinterpret_cast<void**>(env), &args);
}

std::string jstr(JNIEnv* env, jstring s) {
    if (!s) return "<null>";
    const char* c = env->GetStringUTFChars(s, nullptr);
    std::string r = c ? c : "<null>";
    env->ReleaseStringUTFChars(s, c);
    return r;
}

// toString() of the pending exception, which is cleared; "" when none is pending.
std::string take_exception(JNIEnv* env) {
    jthrowable t = env->ExceptionOccurred();
    if (!t) return "";
    env->ExceptionClear();
    jclass c = env->GetObjectClass(t);
    jmethodID to_string = env->GetMethodID(c, "toString", "()Ljava/lang/String;");
    if (!to_string) return "<no toString>";
    return jstr(env, static_cast<jstring>(env->CallObjectMethod(t, to_string)));
}

jstring java_string(JNIEnv* env, const std::u16string& text) {
    return env->NewString(reinterpret_cast<const jchar*>(text.data()), static_cast<jsize>(text.size()));
}

// String[] built the way the launcher builds it: new String(char[]) per argument.
jobjectArray string_array(JNIEnv* env, const std::vector<std::u16string>& items) {
    jclass string_cls = env->FindClass("java/lang/String");
    jmethodID ctor = env->GetMethodID(string_cls, "<init>", "([C)V");
    jobjectArray arr = env->NewObjectArray(static_cast<jsize>(items.size()), string_cls, nullptr);
    for (size_t i = 0; i < items.size(); ++i) {
        jcharArray chars = env->NewCharArray(static_cast<jsize>(items[i].size()));
        env->SetCharArrayRegion(chars, 0, static_cast<jsize>(items[i].size()),
                                reinterpret_cast<const jchar*>(items[i].data()));
        // The variadic slot itself (the C++ wrapper would go through NewObjectV).
        jobject s = env->functions->NewObject(env, string_cls, ctor, chars);
        env->SetObjectArrayElement(arr, static_cast<jsize>(i), s);
        env->DeleteLocalRef(chars);
        env->DeleteLocalRef(s);
    }
    return arr;
}

jobject new_object(JNIEnv* env, const char* cls, const char* sig, jobject arg) {
    jclass c = env->FindClass(cls);
    jmethodID ctor = env->GetMethodID(c, "<init>", sig);
    return arg ? env->NewObject(c, ctor, arg) : env->NewObject(c, ctor);
}

jobject print_stream_to_file(JNIEnv* env, const std::wstring& path) {
    std::u16string p(path.begin(), path.end());
    jobject fos = new_object(env, "java/io/FileOutputStream", "(Ljava/lang/String;)V", java_string(env, p));
    if (!fos) return nullptr;
    return new_object(env, "java/io/PrintStream", "(Ljava/io/OutputStream;)V", fos);
}

void call_main(JNIEnv* env, const char* cls, const std::vector<std::u16string>& args) {
    jclass c = env->FindClass(cls);
    jmethodID main = env->GetStaticMethodID(c, "main", "([Ljava/lang/String;)V");
    env->CallStaticVoidMethod(c, main, string_array(env, args));
}

size_t slot_of(size_t offset) { return offset / sizeof(void*); }

const std::u16string kNonAscii = u"Gr\u00fc\u00dfe \U0001F600";       // "Grüße 😀"
const std::string kNonAsciiUtf8 = "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80";
const std::string kNonAsciiMutf8 = "Gr\xC3\xBC\xC3\x9F" "e \xED\xA0\xBD\xED\xB8\x80";

// ---------------------------------------------------------------------------
// In-process scenario: one VM, created on a worker thread as the launcher does.

struct Shared {
    Runtime rt;
    std::string ansi_option;      // ANSI bytes of the non-ASCII option
    std::string ansi_option_utf8; // what the record must show for it
    JavaVM* vm = nullptr;
};

constexpr SIZE_T kWorkerStack = 3 * 1024 * 1024;

DWORD WINAPI worker(void* p) {
    Shared& sh = *static_cast<Shared*>(p);
    const Runtime& rt = sh.rt;
    JNIEnv* env = nullptr;

    run_case("Create.RecordsOptionsHooksThreadAndStack", [&] {
        size_t mark = records(rt.log()).size();
        std::vector<std::string> opts = {sh.ansi_option, "-Xmx64m", "-Xms8m",    "-Xss512k",   "-Xrs",
                                         "-Xcheck:jni",  "-Xint",   "-verbose:gc", "-Dx=y"};
        jint rc = create_vm(rt, opts, &sh.vm, &env);
        CHECK_EQ(rc, 0);
        CHECK(sh.vm != nullptr);
        CHECK(env != nullptr);
        auto created = events(records(rt.log()), "create", mark);
        CHECK_EQ(created.size(), 1ul);
        if (created.empty()) return;
        const J& e = created[0];
        CHECK_EQ(e["version"].num(), 0x00010002LL);
        CHECK(e["ignore_unrecognized"].type == J::Bool && !e["ignore_unrecognized"].b);
        std::vector<std::string> want = {sh.ansi_option_utf8, "-Xmx64m", "-Xms8m", "-Xss512k", "-Xrs",
                                         "-Xcheck:jni", "-Xint", "-verbose:gc", "-Dx=y", "abort", "exit"};
        CHECK_EQ(e["options"].strs(), want);
        std::vector<std::string> extra(9, "<null>");
        extra.push_back("hook");
        extra.push_back("hook");
        CHECK_EQ(e["extra"].strs(), extra);
        CHECK_EQ(e["thread"].num(), static_cast<long long>(GetCurrentThreadId()));
        CHECK(e["main_thread"].type == J::Bool && !e["main_thread"].b);
        CHECK(e["stack_reserve"].num() >= static_cast<long long>(kWorkerStack));
        CHECK(e["stack_reserve"].num() < static_cast<long long>(kWorkerStack + 1024 * 1024));
        CHECK_EQ(e["result"].num(), 0LL);
    });
    if (!env) return 1;

    run_case("Create.SecondVmWhileLiveIsRefused", [&] {
        JavaVM* vm2;
        JNIEnv* env2;
        CHECK_EQ(create_vm(rt, {}, &vm2, &env2), JNI_EEXIST);
        CHECK(vm2 == nullptr && env2 == nullptr);
        CHECK_EQ(env->GetVersion(), 0x000a0000);
    });

    run_case("Main.RecordsArgumentsIncludingNonAscii", [&] {
        size_t mark = records(rt.log()).size();
        call_main(env, "standin/Records", {u"plain", kNonAscii, u""});
        CHECK(!env->ExceptionCheck());
        auto recs = records(rt.log());
        std::vector<std::string> found;
        for (const J& f : events(recs, "find_class", mark)) found.push_back(f["name"].str());
        CHECK_EQ(found, (std::vector<std::string>{"standin/Records", "java/lang/String"}));
        auto mains = events(recs, "main", mark);
        CHECK_EQ(mains.size(), 1ul);
        if (mains.empty()) return;
        CHECK_EQ(mains[0]["class"].str(), std::string("standin/Records"));
        CHECK_EQ(mains[0]["args"].strs(), (std::vector<std::string>{"plain", kNonAsciiUtf8, ""}));
        CHECK_EQ(mains[0]["thread"].num(), static_cast<long long>(GetCurrentThreadId()));
    });

    run_case("Main.AllThreeCallFormsReachMain", [&] {
        jclass c = env->FindClass("standin/Records");
        jmethodID main = env->GetStaticMethodID(c, "main", "([Ljava/lang/String;)V");
        size_t mark = records(rt.log()).size();
        env->functions->CallStaticVoidMethod(env, c, main, string_array(env, {u"varargs"}));
        env->CallStaticVoidMethod(c, main, string_array(env, {u"va_list"}));  // wrapper uses the V slot
        jvalue v;
        v.l = string_array(env, {u"array"});
        env->CallStaticVoidMethodA(c, main, &v);
        std::vector<std::string> seen;
        for (const J& m : events(records(rt.log()), "main", mark)) seen.push_back(m["args"].strs().at(0));
        CHECK_EQ(seen, (std::vector<std::string>{"varargs", "va_list", "array"}));
    });

    run_case("Strings.Utf16AndModifiedUtf8", [&] {
        jstring s = java_string(env, kNonAscii);
        CHECK_EQ(env->GetStringLength(s), 8);
        CHECK_EQ(env->GetStringUTFLength(s), static_cast<int>(kNonAsciiMutf8.size()));
        CHECK_EQ(jstr(env, s), kNonAsciiMutf8);
        jstring back = env->NewStringUTF(kNonAsciiMutf8.c_str());
        const jchar* chars = env->GetStringChars(back, nullptr);
        CHECK(std::u16string(reinterpret_cast<const char16_t*>(chars), 8) == kNonAscii);
        env->ReleaseStringChars(back, chars);
        jchar region[3] = {};
        env->GetStringRegion(s, 2, 3, region);
        CHECK(std::u16string(reinterpret_cast<const char16_t*>(region), 3) == u"\u00fc\u00dfe");
        CHECK(!env->ExceptionCheck());
        env->GetStringRegion(s, 7, 2, region);
        CHECK_EQ(take_exception(env).rfind("java.lang.StringIndexOutOfBoundsException", 0), 0u);
        CHECK(env->NewStringUTF(nullptr) == nullptr);
    });

    run_case("Arrays.BoundsAndElementTypes", [&] {
        jclass string_cls = env->FindClass("java/lang/String");
        jstring fill = env->NewStringUTF("x");
        jobjectArray arr = env->NewObjectArray(2, string_cls, fill);
        CHECK_EQ(env->GetArrayLength(arr), 2);
        CHECK_EQ(jstr(env, static_cast<jstring>(env->GetObjectArrayElement(arr, 1))), std::string("x"));
        CHECK(env->GetObjectArrayElement(arr, 2) == nullptr);
        CHECK_EQ(take_exception(env), std::string("java.lang.ArrayIndexOutOfBoundsException: Index 2 out of bounds for length 2"));
        env->SetObjectArrayElement(arr, 0, new_object(env, "java/io/ByteArrayOutputStream", "()V", nullptr));
        CHECK_EQ(take_exception(env), std::string("java.lang.ArrayStoreException: java.io.ByteArrayOutputStream"));
        jcharArray chars = env->NewCharArray(3);
        CHECK_EQ(env->GetArrayLength(chars), 3);
        jchar four[4] = {'a', 'b', 'c', 'd'};
        env->SetCharArrayRegion(chars, 0, 4, four);
        CHECK_EQ(take_exception(env).rfind("java.lang.ArrayIndexOutOfBoundsException", 0), 0u);
    });

    run_case("Refs.FramesAndGlobals", [&] {
        CHECK_EQ(env->PushLocalFrame(16), 0);
        jstring s = env->NewStringUTF("kept");
        jobject out = env->PopLocalFrame(s);
        CHECK_EQ(jstr(env, static_cast<jstring>(out)), std::string("kept"));
        jobject g = env->NewGlobalRef(out);
        CHECK_EQ(jstr(env, static_cast<jstring>(g)), std::string("kept"));
        env->DeleteGlobalRef(g);
        CHECK(env->PopLocalFrame(nullptr) == nullptr);
    });

    run_case("Exceptions.ThrowsLeavesPendingAndPrintsTrace", [&] {
        call_main(env, "standin/Throws", {});
        CHECK(env->ExceptionCheck());
        jthrowable t = env->ExceptionOccurred();
        CHECK(t != nullptr);
        env->ExceptionClear();
        CHECK(!env->ExceptionCheck());
        jobject bytes = new_object(env, "java/io/ByteArrayOutputStream", "()V", nullptr);
        jobject ps = new_object(env, "java/io/PrintStream", "(Ljava/io/OutputStream;)V", bytes);
        jmethodID pst = env->GetMethodID(env->GetObjectClass(t), "printStackTrace", "(Ljava/io/PrintStream;)V");
        CHECK(pst != nullptr);
        env->functions->CallVoidMethod(env, t, pst, ps);
        jmethodID to_string = env->GetMethodID(env->GetObjectClass(bytes), "toString", "()Ljava/lang/String;");
        jstring text = static_cast<jstring>(env->functions->CallObjectMethod(env, bytes, to_string));
        CHECK_EQ(jstr(env, text),
                 std::string("java.lang.RuntimeException: boom\r\n\tat standin.Throws.main(Throws.java:1)\r\n"));
        jmethodID get_message = env->GetMethodID(env->GetObjectClass(t), "getMessage", "()Ljava/lang/String;");
        CHECK_EQ(jstr(env, static_cast<jstring>(env->CallObjectMethodA(t, get_message, nullptr))), std::string("boom"));
    });

    run_case("Exceptions.DescribeRecordsAndClears", [&] {
        size_t mark = records(rt.log()).size();
        call_main(env, "standin/Throws", {});
        env->ExceptionDescribe();
        CHECK(!env->ExceptionCheck());
        auto d = events(records(rt.log()), "describe", mark);
        CHECK_EQ(d.size(), 1ul);
        if (!d.empty()) CHECK_EQ(d[0]["text"].str(), std::string("java.lang.RuntimeException: boom"));
        mark = records(rt.log()).size();
        env->ExceptionDescribe();  // nothing pending: nothing happens
        CHECK_EQ(events(records(rt.log()), "describe", mark).size(), 0ul);
    });

    run_case("Classes.UnknownNamesFailWithNoClassDefFoundError", [&] {
        const char* names[] = {"standin/Nope", "standin.Records", "java/lang/Strin", "Records"};
        for (const char* name : names) {
            size_t mark = records(rt.log()).size();
            CHECK(env->FindClass(name) == nullptr);
            CHECK_EQ(take_exception(env), std::string("java.lang.NoClassDefFoundError: ") + name);
            auto f = events(records(rt.log()), "find_class", mark);
            CHECK(!f.empty() && f[0]["name"].str() == name);
        }
    });

    run_case("Methods.MissingMainAndSecondaryForms", [&] {
        struct Row {
            const char* cls;
            const char* name;
            const char* sig;
            bool found;
        } rows[] = {
            {"standin/NoMain", "main", "([Ljava/lang/String;)V", false},
            {"standin/Records", "main", "([Ljava/lang/String;)I", false},
            {"standin/Records", "secondaryMain", "([Ljava/lang/String;)V", false},
            {"standin/SecondaryVoid", "secondaryMain", "([Ljava/lang/String;)V", true},
            {"standin/SecondaryVoid", "secondaryMain", "([Ljava/lang/String;)I", false},
            {"standin/SecondaryInt", "secondaryMain", "([Ljava/lang/String;)I", true},
            {"standin/SecondaryInt", "secondaryMain", "([Ljava/lang/String;)V", false},
            {"standin/SecondaryInt", "main", "([Ljava/lang/String;)V", true},
        };
        for (const Row& r : rows) {
            jmethodID m = env->GetStaticMethodID(env->FindClass(r.cls), r.name, r.sig);
            CHECK_EQ(m != nullptr, r.found);
            std::string pending = take_exception(env);
            CHECK_EQ(pending, r.found ? std::string() : std::string("java.lang.NoSuchMethodError: ") + r.name);
        }
        // Instance lookups do not see static methods.
        CHECK(env->GetMethodID(env->FindClass("standin/Records"), "main", "([Ljava/lang/String;)V") == nullptr);
        CHECK_EQ(take_exception(env), std::string("java.lang.NoSuchMethodError: main"));
    });

    run_case("Methods.SecondaryMainRecordsFormAndResult", [&] {
        size_t mark = records(rt.log()).size();
        jclass ci = env->FindClass("standin/SecondaryInt");
        jmethodID mi = env->GetStaticMethodID(ci, "secondaryMain", "([Ljava/lang/String;)I");
        jvalue v;
        v.l = string_array(env, {u"one", kNonAscii});
        CHECK_EQ(env->CallStaticIntMethodA(ci, mi, &v), 42);
        CHECK_EQ(env->functions->CallStaticIntMethod(env, ci, mi, v.l), 42);
        jclass cv = env->FindClass("standin/SecondaryVoid");
        jmethodID mv = env->GetStaticMethodID(cv, "secondaryMain", "([Ljava/lang/String;)V");
        env->CallStaticVoidMethod(cv, mv, string_array(env, {u"two"}));
        auto s = events(records(rt.log()), "secondary_main", mark);
        CHECK_EQ(s.size(), 3ul);
        if (s.size() != 3) return;
        CHECK_EQ(s[0]["class"].str(), std::string("standin/SecondaryInt"));
        CHECK_EQ(s[0]["form"].str(), std::string("int"));
        CHECK_EQ(s[0]["args"].strs(), (std::vector<std::string>{"one", kNonAsciiUtf8}));
        CHECK_EQ(s[2]["class"].str(), std::string("standin/SecondaryVoid"));
        CHECK_EQ(s[2]["form"].str(), std::string("void"));
        CHECK_EQ(s[2]["args"].strs(), (std::vector<std::string>{"two"}));
        CHECK_EQ(events(records(rt.log()), "main", mark).size(), 0ul);
    });

    run_case("Streams.MissingFolderGivesFileNotFoundException", [&] {
        std::wstring bad = rt.dir + L"\\no-such-folder\\out.txt";
        jclass fos_cls = env->FindClass("java/io/FileOutputStream");
        jmethodID ctor = env->GetMethodID(fos_cls, "<init>", "(Ljava/lang/String;)V");
        jvalue v;
        v.l = java_string(env, std::u16string(bad.begin(), bad.end()));
        CHECK(env->NewObjectA(fos_cls, ctor, &v) == nullptr);
        std::string e = take_exception(env);
        CHECK_EQ(e.rfind("java.io.FileNotFoundException: " + utf8(bad) + " (", 0), 0u);
    });

    run_case("Streams.SetOutSetErrRedirectPrintsAndDescribe", [&] {
        std::wstring out_path = rt.dir + L"\\out-\u00e9.txt";
        std::wstring err_path = rt.dir + L"\\err.txt";
        write_file(out_path, "old content that must be truncated\r\n");
        size_t mark = records(rt.log()).size();
        jobject out = print_stream_to_file(env, out_path);
        jobject err = print_stream_to_file(env, err_path);
        CHECK(out && err);
        jclass sys = env->FindClass("java/lang/System");
        env->CallStaticVoidMethod(sys, env->GetStaticMethodID(sys, "setOut", "(Ljava/io/PrintStream;)V"), out);
        env->CallStaticVoidMethod(sys, env->GetStaticMethodID(sys, "setErr", "(Ljava/io/PrintStream;)V"), err);
        call_main(env, "standin/Prints", {});
        call_main(env, "standin/Throws", {});
        env->ExceptionDescribe();
        CHECK_EQ(read_file(out_path), std::string("standin out\r\n"));
        CHECK_EQ(read_file(err_path), std::string("standin err\r\nException in thread \"main\" java.lang.RuntimeException: "
                                                  "boom\r\n\tat standin.Throws.main(Throws.java:1)\r\n"));
        auto recs = records(rt.log());
        auto so = events(recs, "set_out", mark);
        auto se = events(recs, "set_err", mark);
        CHECK(so.size() == 1 && so[0]["path"].str() == utf8(out_path));
        CHECK(se.size() == 1 && se[0]["path"].str() == utf8(err_path));
        CHECK_EQ(events(recs, "open_file", mark).size(), 2ul);
    });

    run_case("Main.SleepsForConfiguredTime", [&] {
        // Generous margin: the tick sources under Wine are coarse.
        LARGE_INTEGER freq, start, end;
        QueryPerformanceFrequency(&freq);
        QueryPerformanceCounter(&start);
        call_main(env, "standin/Sleeps", {});
        QueryPerformanceCounter(&end);
        long long ms = (end.QuadPart - start.QuadPart) * 1000 / freq.QuadPart;
        CHECK(ms >= 250);
        CHECK(ms < 5000);
    });

    run_case("Threads.DetachRecordsThread", [&] {
        size_t mark = records(rt.log()).size();
        CHECK_EQ(sh.vm->DetachCurrentThread(), 0);
        auto d = events(records(rt.log()), "detach", mark);
        CHECK(d.size() == 1 && d[0]["thread"].num() == static_cast<long long>(GetCurrentThreadId()));
        JNIEnv* e2 = nullptr;
        CHECK_EQ(sh.vm->GetEnv(reinterpret_cast<void**>(&e2), JNI_VERSION_1_2), JNI_EDETACHED);
    });
    return 0;
}

DWORD WINAPI daemon_thread(void* p) {
    JavaVM* vm = static_cast<JavaVM*>(p);
    JNIEnv* env = nullptr;
    JavaVMAttachArgs a{JNI_VERSION_1_2, const_cast<char*>("single-instance"), nullptr};
    if (vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), &a) != 0 || !env) return 1;
    jclass c = env->FindClass("standin/Records");
    if (!c) return 2;
    return vm->DetachCurrentThread() == 0 ? 0 : 3;
}

void in_process(const std::wstring& dll) {
    Shared sh;
    std::wstring dir = prepare_dir(dll, L"main", "# settings for the in-process cases\n"
                                                 "default_stack = 262144\nsecondary_result=42\r\nsleep_ms=300\n");
    run_case("Load.ExportsAndLoadedEvent", [&] {
        CHECK(load(sh.rt, dir));
        auto loaded = events(records(sh.rt.log()), "loaded");
        CHECK_EQ(loaded.size(), 1ul);
        if (loaded.empty()) return;
        CHECK_EQ(loaded[0]["path"].str(), utf8(dir + L"\\jvm.dll"));
        CHECK_EQ(loaded[0]["bits"].num(), static_cast<long long>(sizeof(void*) * 8));
        CHECK_EQ(loaded[0]["pid"].num(), static_cast<long long>(GetCurrentProcessId()));
    });
    if (!sh.rt.create) return;
    const Runtime& rt = sh.rt;

    run_case("DefaultArgs.ReportsConfiguredStack", [&] {
        JDK1_1InitArgs a;
        std::memset(&a, 0, sizeof a);
        a.version = JNI_VERSION_1_1;
        CHECK_EQ(rt.default_args(&a), 0);
        CHECK_EQ(a.javaStackSize, 262144);
        auto d = events(records(rt.log()), "default_args");
        CHECK(d.size() == 1 && d[0]["version"].num() == 0x00010001);
    });

    run_case("Create.RejectsUnknownOptionsAndVersions", [&] {
        struct Row {
            std::vector<std::string> opts;
            jint version;
            jint want;
            std::vector<std::string> unrecognized;
        } rows[] = {
            {{"-Djava.class.path=a.jar", "-Xbogus"}, JNI_VERSION_1_2, JNI_ERR, {"-Xbogus"}},
            {{"-XX:+UseSerialGC"}, JNI_VERSION_1_8, JNI_ERR, {"-XX:+UseSerialGC"}},
            {{"bogus", "-Xrsx"}, JNI_VERSION_1_2, JNI_ERR, {"bogus", "-Xrsx"}},
            {{"-Dok=1"}, JNI_VERSION_1_1, JNI_EVERSION, {}},
        };
        for (const Row& r : rows) {
            size_t mark = records(rt.log()).size();
            JavaVM* vm;
            JNIEnv* env;
            CHECK_EQ(create_vm(rt, r.opts, &vm, &env, JNI_FALSE, r.version), r.want);
            CHECK(vm == nullptr && env == nullptr);
            auto c = events(records(rt.log()), "create", mark);
            CHECK_EQ(c.size(), 1ul);
            if (c.empty()) continue;
            CHECK_EQ(c[0]["result"].num(), static_cast<long long>(r.want));
            if (r.want == JNI_ERR) CHECK_EQ(c[0]["unrecognized"].strs(), r.unrecognized);
            CHECK(c[0]["main_thread"].type == J::Bool && c[0]["main_thread"].b);
        }
    });

    // A non-ASCII option in the ANSI code page, when that page can carry it.
    std::wstring wide_opt = L"-Dstandin.opt=\u00e9t\u00e9";
    char ansi[64] = {};
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide_opt.c_str(), -1, ansi, sizeof ansi, nullptr, &lossy);
    if (GetACP() == CP_UTF8) lossy = FALSE;
    sh.ansi_option = lossy ? "-Dstandin.opt=ascii" : ansi;
    sh.ansi_option_utf8 = lossy ? sh.ansi_option : utf8(wide_opt);
    std::printf("(ANSI code page %u%s)\n", GetACP(), lossy ? ", cannot carry the non-ASCII option" : "");

    HANDLE t = CreateThread(nullptr, kWorkerStack, worker, &sh, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
    if (!sh.vm) return;
    JavaVM* vm = sh.vm;

    run_case("Threads.AttachGetEnvDetachFromOtherThreads", [&] {
        JNIEnv* env = nullptr;
        CHECK_EQ(vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_2), JNI_EDETACHED);
        CHECK(env == nullptr);
        size_t mark = records(rt.log()).size();
        CHECK_EQ(vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr), 0);
        CHECK(env != nullptr);
        JNIEnv* again = nullptr;
        CHECK_EQ(vm->GetEnv(reinterpret_cast<void**>(&again), JNI_VERSION_1_8), 0);
        CHECK(again == env);
        CHECK(env && env->FindClass("standin/Records") != nullptr);
        CHECK_EQ(vm->DetachCurrentThread(), 0);
        DWORD other_tid = 0;
        HANDLE th = CreateThread(nullptr, 0, daemon_thread, vm, 0, &other_tid);
        WaitForSingleObject(th, INFINITE);
        DWORD code = 99;
        GetExitCodeThread(th, &code);
        CloseHandle(th);
        CHECK_EQ(code, 0ul);
        auto recs = records(rt.log());
        auto att = events(recs, "attach", mark);
        CHECK_EQ(att.size(), 2ul);
        if (att.size() == 2) {
            CHECK_EQ(att[0]["thread"].num(), static_cast<long long>(GetCurrentThreadId()));
            CHECK(att[0]["daemon"].type == J::Bool && !att[0]["daemon"].b);
            CHECK_EQ(att[1]["thread"].num(), static_cast<long long>(other_tid));
            CHECK(att[1]["daemon"].type == J::Bool && att[1]["daemon"].b);
            CHECK_EQ(att[1]["name"].str(), std::string("single-instance"));
        }
        auto det = events(recs, "detach", mark);
        CHECK(det.size() == 2 && det[1]["thread"].num() == static_cast<long long>(other_tid));
    });

    run_case("Destroy.FromMainThreadAndNoRecreate", [&] {
        size_t mark = records(rt.log()).size();
        CHECK_EQ(vm->DestroyJavaVM(), 0);
        JavaVM* vm2;
        JNIEnv* env2;
        CHECK_EQ(create_vm(rt, {}, &vm2, &env2), JNI_ERR);
        auto recs = records(rt.log());
        auto d = events(recs, "destroy", mark);
        CHECK(d.size() == 1 && d[0]["thread"].num() == static_cast<long long>(GetCurrentThreadId()));
        CHECK_EQ(events(recs, "jni_misuse").size(), 0ul);
        CHECK_EQ(events(recs, "bad_call").size(), 0ul);
    });
    FreeLibrary(sh.rt.module);  // lets the scratch folder be removed
}

// ---------------------------------------------------------------------------
// Child-process scenarios.

int child(const std::wstring& scenario, const std::wstring& dir) {
    Runtime rt;
    if (!load(rt, dir)) return 200;
    g_hook_file = dir + L"\\hook.txt";
    JavaVM* vm;
    JNIEnv* env;
    if (scenario == L"create_result") return -create_vm(rt, {"-Dfine=1"}, &vm, &env);
    if (scenario == L"ignore_unrecognized") return create_vm(rt, {"-Xbogus", "-XX:Nope"}, &vm, &env, JNI_TRUE);
    if (create_vm(rt, {}, &vm, &env) != 0) return 201;
    if (scenario == L"exits") {
        call_main(env, "standin/Exits", {u"x"});
        return 202;  // not reached: System.exit ends the process
    }
    if (scenario == L"console") {
        call_main(env, "standin/Prints", {});
        call_main(env, "standin/Throws", {});
        env->ExceptionDescribe();
        return 0;
    }
    if (scenario == L"bad_slot") {
        jclass c = env->FindClass("java/lang/String");
        env->IsInstanceOf(c, c);
        return 203;
    }
    if (scenario == L"bad_vm_slot") {
        reinterpret_cast<void(JNICALL*)(JavaVM*)>(vm->functions->reserved1)(vm);
        return 204;
    }
    if (scenario == L"bad_ref") {
        int not_an_object = 0;
        env->GetStringLength(reinterpret_cast<jstring>(&not_an_object));
        return 205;
    }
    return 206;
}

struct ChildResult {
    DWORD code = 0xFFFFFFFF;
    std::string out, err;
};

ChildResult run_child(const std::wstring& scenario, const std::wstring& dir) {
    ChildResult r;
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    std::wstring out_path = dir + L"\\child.out", err_path = dir + L"\\child.err";
    HANDLE out = CreateFileW(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileW(err_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW si;
    std::memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi;
    std::wstring cmd = L"\"" + exe_path() + L"\" --child " + scenario + L" \"" + dir + L"\"";
    if (CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 0xDEAD);
        GetExitCodeProcess(pi.hProcess, &r.code);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(out);
    CloseHandle(err);
    r.out = read_file(out_path);
    r.err = read_file(err_path);
    return r;
}

void child_cases(const std::wstring& dll) {
    run_case("Loud.UnimplementedSlotsEndTheProcessWith97", [&] {
        struct Row {
            const wchar_t* scenario;
            const char* event;
            const char* table;
            long long slot;
            const char* name;
        } rows[] = {
            {L"bad_slot", "unexpected_jni", "env", static_cast<long long>(slot_of(offsetof(JNINativeInterface_, IsInstanceOf))), "IsInstanceOf"},
            {L"bad_vm_slot", "unexpected_jni", "vm", static_cast<long long>(slot_of(offsetof(JNIInvokeInterface_, reserved1))), "reserved1"},
            {L"bad_ref", "bad_call", nullptr, 0, "GetStringLength"},
        };
        for (const Row& r : rows) {
            std::wstring dir = prepare_dir(dll, r.scenario, "");
            ChildResult res = run_child(r.scenario, dir);
            CHECK_EQ(res.code, 97ul);
            auto recs = records(dir + L"\\standin.log");
            auto ev = events(recs, r.event);
            CHECK_EQ(ev.size(), 1ul);
            if (ev.empty()) continue;
            if (r.table) {
                CHECK_EQ(ev[0]["slot"].num(), r.slot);
                CHECK_EQ(ev[0]["table"].str(), std::string(r.table));
                CHECK_EQ(ev[0]["name"].str(), std::string(r.name));
            } else {
                CHECK_EQ(ev[0]["function"].str(), std::string(r.name));
            }
            // Created on the process's first thread this time.
            auto c = events(recs, "create");
            CHECK(c.size() == 1 && c[0]["main_thread"].type == J::Bool && c[0]["main_thread"].b);
        }
    });

    run_case("Exit.HookRunsBeforeProcessEndsWithCode", [&] {
        std::wstring dir = prepare_dir(dll, L"exits", "exit_code=5\n");
        ChildResult res = run_child(L"exits", dir);
        CHECK_EQ(res.code, 5ul);
        CHECK_EQ(read_file(dir + L"\\hook.txt"), std::string("hook 5"));
        auto recs = records(dir + L"\\standin.log");
        std::vector<std::string> names = event_names(recs);
        std::vector<std::string> tail(names.end() - std::min<size_t>(3, names.size()), names.end());
        CHECK_EQ(tail, (std::vector<std::string>{"main", "exit_hook", "exit"}));
        auto hook = events(recs, "exit_hook");
        auto ex = events(recs, "exit");
        CHECK(hook.size() == 1 && hook[0]["code"].num() == 5);
        CHECK(ex.size() == 1 && ex[0]["code"].num() == 5);
    });

    run_case("Console.PrintsAndDescribeGoToProcessHandles", [&] {
        std::wstring dir = prepare_dir(dll, L"console", "");
        ChildResult res = run_child(L"console", dir);
        CHECK_EQ(res.code, 0ul);
        CHECK_EQ(res.out, std::string("standin out\r\n"));
        CHECK_EQ(res.err, std::string("standin err\r\nException in thread \"main\" java.lang.RuntimeException: boom\r\n"
                                      "\tat standin.Throws.main(Throws.java:1)\r\n"));
    });

    run_case("Config.CreateResultAndRecordPath", [&] {
        std::wstring dir = prepare_dir(dll, L"cfg", "create_result=-6\nrecord=logs-\xC3\xA9\\run.log\n");
        CreateDirectoryW((dir + L"\\logs-\u00e9").c_str(), nullptr);
        ChildResult res = run_child(L"create_result", dir);
        CHECK_EQ(res.code, 6ul);
        CHECK_EQ(read_file(dir + L"\\standin.log"), std::string("<missing>"));
        auto recs = records(dir + L"\\logs-\u00e9\\run.log");
        CHECK_EQ(event_names(recs), (std::vector<std::string>{"loaded", "create"}));
        if (recs.size() == 2) CHECK_EQ(recs[1]["result"].num(), -6LL);
    });

    run_case("Config.IgnoreUnrecognizedAccepts", [&] {
        std::wstring dir = prepare_dir(dll, L"ignore", "");
        ChildResult res = run_child(L"ignore_unrecognized", dir);
        CHECK_EQ(res.code, 0ul);
        auto c = events(records(dir + L"\\standin.log"), "create");
        CHECK(c.size() == 1 && c[0]["ignore_unrecognized"].b && c[0]["result"].num() == 0);
        if (!c.empty()) CHECK_EQ(c[0]["unrecognized"].strs(), (std::vector<std::string>{"-Xbogus", "-XX:Nope"}));
    });
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && std::wstring(argv[1]) == L"--child") return child(argv[2], argv[3]);
    std::wstring dll = argc >= 2 ? argv[1] : dir_of(exe_path()) + L"\\jvm.dll";
    if (GetFileAttributesW(dll.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::printf("jvm.dll not found at %s\n", utf8(dll).c_str());
        return 2;
    }
    std::printf("stand-in runtime self-test (%d-bit)\n", static_cast<int>(sizeof(void*) * 8));
    in_process(dll);
    child_cases(dll);
    if (g_failed == 0) {
        for (const std::wstring& d : g_scratch_dirs) remove_tree(d);
    } else {
        std::printf("scratch folders kept for inspection under %s\n", utf8(dir_of(g_scratch_dirs.at(0))).c_str());
    }
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 && g_passed > 0 ? 0 : 1;
}
