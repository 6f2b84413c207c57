// Single instance on Linux: a local socket per executable and product in a
// folder only the user can enter, and a lock file beside it that the first
// instance holds for its whole life (the system drops the lock of a process
// that crashed). The first instance's listener thread starts one worker per
// second instance; the worker reads the arguments, waits until main has
// started, attaches to the virtual machine and answers. It also watches the
// folder: a socket or lock file that a temp cleaner removes is made again.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "instance/hand_over.h"
#include "instance/instance_socket.h"
#include "instance/single_instance.h"
#include "launcher/environment.h"
#include "launcher/launcher.h"
#include "support/platform.h"
#include "support/platform_linux.h"
#include "support/trace.h"

using platform::FileDescriptor;

namespace {

// A launch that can neither become the first instance nor reach it within
// this time gives up with -1, as the Windows build does.
const int kDecisionPatienceMs = 10000;
const int kRetryMs = 10;
// Reading a request, writing an answer, connecting while the listener's
// backlog is full: a peer that stalls longer is given up.
const int kTransferPatienceMs = 5000;
// Connections that end before the first instance took them are tried
// again, but not for ever.
const int kMaxUntakenAttempts = 100;
// A first instance makes its socket right after it takes the lock: a lock
// held this long without a socket file is a socket that was removed.
const int kMissingSocketPatienceMs = 3000;

// A launch that gives up says why, on the standard error and in the trace.
bool giveUp(const char16_t* why, const NarrowString& socketPath) {
    platform::writeStandardError(why);
    TRACE_EVENT("hand-over").field("result", "gave up").field("reason", why).field("socket", platform::fromNative(socketPath.c_str()));
    return false;
}

int64_t nowMs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void pauseMs(int ms) {
    struct timespec wait = {0, ms * 1000000L};
    nanosleep(&wait, nullptr);
}

// 0: no time limit.
void setTimeouts(int fd, int ms) {
    struct timeval limit = {ms / 1000, (ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

// MSG_NOSIGNAL: a peer that is gone is a failed send, not a SIGPIPE.
bool sendAll(int fd, const void* data, size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t sent = send(fd, at, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        at += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

bool receiveAll(int fd, void* data, size_t size) {
    char* at = static_cast<char*>(data);
    while (size > 0) {
        ssize_t got = recv(fd, at, size, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        at += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

// Both sides talk only to a process of the same user.
bool peerIsUser(int fd) {
    struct ucred peer;
    socklen_t size = sizeof peer;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == geteuid();
}

bool socketAddress(const NarrowString& path, struct sockaddr_un& address) {
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() > kSocketPathLimit || path.size() >= sizeof address.sun_path) return false;
    memcpy(address.sun_path, path.data(), path.size());
    return true;
}

struct Endpoint {
    NarrowString folder;
    NarrowString socketPath;
    NarrowString lockPath;
};

// A real folder (not a link), the user's own, closed to everyone else.
bool folderIsPrivate(const NarrowString& folder) {
    struct stat info;
    return lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & 077) == 0;
}

bool findEndpoint(const WideString& module, const WideString& productCode, Endpoint& endpoint) {
    NarrowString name = instanceSocketName(platform::toNative(module), productCode);
    WideString root;
    platform::readEnvironment(u"VEDA_LAUNCHER_SEARCH_ROOT", root);
    NarrowString folder = instanceFolder(platform::toNative(root), geteuid(), name);
    // Made when missing; one that someone else made first fails the check.
    if (folder.empty() || (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) || !folderIsPrivate(folder)) {
        TRACE_EVENT("single instance")
            .field("outcome", "an ordinary instance")
            .field("reason", "no private folder to meet in")
            .field("folder", platform::fromNative(folder.c_str()));
        return false;
    }
    endpoint.folder = folder;
    endpoint.socketPath = folder + "/" + name;
    endpoint.lockPath = folder + "/" + instanceLockName(name);
    return true;
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

int openLockFile(const NarrowString& path) {
    FileDescriptor fd(open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    struct stat info;
    if (fd.get() < 0 || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid()) return -1;
    return fd.release();
}

// The main-started event: process-wide, because a worker may still wait on
// it after the Launcher is gone.
platform::OnceEvent mainStartedEvent;

// Workers read the Launcher only through this gate: its value counts the
// workers reading, and -1 means closed. The teardown closes it after the
// virtual machine is destroyed. The attach itself happens outside: one that
// comes too late fails or never returns, and the teardown must not wait for
// it.
std::atomic<int> handOverGate(0);

bool enterGate() {
    int seen = handOverGate.load();
    for (;;) {
        if (seen < 0) return false;
        if (handOverGate.compare_exchange_weak(seen, seen + 1)) return true;
    }
}

void leaveGate() { --handOverGate; }

void closeGate() {
    for (;;) {
        int idle = 0;
        if (handOverGate.compare_exchange_weak(idle, -1) || idle < 0) return;
        sched_yield();
    }
}

struct Listener {
    Launcher* launcher = nullptr;
    Endpoint endpoint;
    FileDescriptor lock;  // held for the first instance's life
    FileDescriptor socket;
    struct stat socketFile;  // the file the socket was bound to
    bool bound = false;      // the socket file is this process's to remove
    FileDescriptor watch;    // the folder's changes, when the system tells them
    struct stat watchedFolder;
    FileDescriptor stopRead;
    FileDescriptor stopWrite;  // closed to stop the listener
    pthread_t thread;
    bool running = false;
    // The process is about to start again: nothing is restored any more.
    std::atomic<bool> abandoned{false};
};

class SocketChannel : public HandOverChannel {
public:
    SocketChannel(int fd, List<WideString>& arguments, WideString& folder)
        : fd_(fd), arguments_(arguments), folder_(folder) {}
    List<WideString> arguments() override { return arguments_; }
    WideString workingDirectory() override { return folder_; }
    void answer(int32_t value) override {
        uint8_t bytes[4];
        encodeAnswer(value, bytes);
        sendAll(fd_, bytes, sizeof bytes);
    }

private:
    int fd_;
    List<WideString>& arguments_;
    WideString& folder_;
};

bool readRequest(int fd, List<WideString>& arguments, WideString& folder) {
    uint8_t header[kHandOverHeaderBytes];
    size_t bytes = 0;
    if (!receiveAll(fd, header, sizeof header) || !handOverPayloadBytes(header, bytes)) return false;
    List<uint8_t> payload(bytes);
    return receiveAll(fd, payload.data(), bytes) && decodeHandOverPayload(payload.data(), bytes, arguments, folder);
}

struct WorkerStart {
    Launcher* launcher;
    int fd;
};

void* handOverWorker(void* parameter) {
    WorkerStart start = *static_cast<WorkerStart*>(parameter);
    delete static_cast<WorkerStart*>(parameter);
    FileDescriptor connection(start.fd);
    setTimeouts(connection.get(), kTransferPatienceMs);
    List<WideString> arguments;
    WideString folder;
    if (!peerIsUser(connection.get()) || !readRequest(connection.get(), arguments, folder)) return nullptr;
    // secondaryMain never runs before main has been called.
    mainStartedEvent.wait();
    if (!enterGate()) return nullptr;
    JavaVM* vm = start.launcher->javaVM;
    WideString mainClass = start.launcher->mainClass;
    bool stayAttached = start.launcher->runtimeVendor == RuntimeVendor::Ibm;
    leaveGate();
    JNIEnv* env = nullptr;
    // Closed untaken, the second instance tries again (and may become the
    // first instance itself).
    if (!vm || vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK) return nullptr;
    // From here on the hand-over is this instance's: a second instance that
    // hears nothing more ends with -1 and does not try again.
    uint8_t taken = kHandOverTaken;
    if (programRunning(env) && sendAll(connection.get(), &taken, 1)) {
        SocketChannel channel(connection.get(), arguments, folder);
        serveHandOver(vm, env, mainClass, channel, stayAttached);
    } else {
        vm->DetachCurrentThread();
    }
    return nullptr;
}

void startWorker(Launcher* launcher, int fd) {
    WorkerStart* start = new WorkerStart{launcher, fd};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    // Workers are not waited for.
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t worker;
    if (pthread_create(&worker, &attributes, handOverWorker, start) != 0) {
        close(fd);
        delete start;
    }
    pthread_attr_destroy(&attributes);
}

// A listening socket bound to the endpoint's path, its file noted.
bool bindSocket(Listener& listener) {
    const char* path = listener.endpoint.socketPath.c_str();
    // A socket left by a first instance that crashed: nobody listens there,
    // and only the lock's holder touches the socket file.
    struct stat info;
    if (lstat(path, &info) == 0 && (!S_ISSOCK(info.st_mode) || info.st_uid != geteuid() || unlink(path) != 0))
        return false;
    struct sockaddr_un address;
    if (!socketAddress(listener.endpoint.socketPath, address)) return false;
    FileDescriptor fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return false;
    if (bind(fd.get(), reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) return false;
    listener.bound = true;
    chmod(path, 0600);
    if (listen(fd.get(), SOMAXCONN) != 0 || lstat(path, &listener.socketFile) != 0) return false;
    listener.socket.reset(fd.release());
    return true;
}

// Watches the folder for its socket and lock files going away (a temp
// cleaner, a user's rm); without it nothing is restored.
void watchFolder(Listener& listener) {
    if (listener.watch.get() < 0) listener.watch.reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (listener.watch.get() < 0 || lstat(listener.endpoint.folder.c_str(), &listener.watchedFolder) != 0 ||
        inotify_add_watch(listener.watch.get(), listener.endpoint.folder.c_str(),
                          IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW) < 0)
        listener.watch.reset();
}

// Makes again what was removed under this first instance, so that later
// launches find it instead of waiting for a socket that never comes back.
void restoreEndpoint(Listener& listener) {
    const Endpoint& endpoint = listener.endpoint;
    const char* failed = nullptr;
    bool restored = false;
    struct stat now, held;
    bool folderGone = lstat(endpoint.folder.c_str(), &now) != 0 || !sameFile(now, listener.watchedFolder);
    if (folderGone) mkdir(endpoint.folder.c_str(), 0700);
    if (!folderIsPrivate(endpoint.folder)) {
        failed = "no private folder";
    } else if (folderGone) {
        watchFolder(listener);
        restored = true;
    }
    if (!failed && fstat(listener.lock.get(), &held) == 0 &&
        (lstat(endpoint.lockPath.c_str(), &now) != 0 || !sameFile(now, held))) {
        // The lock that launches see is the file under the name now.
        FileDescriptor fresh(openLockFile(endpoint.lockPath));
        if (fresh.get() < 0 || flock(fresh.get(), LOCK_EX | LOCK_NB) != 0) {
            failed = "another launch holds the lock";
        } else {
            listener.lock.reset(fresh.release());
            restored = true;
        }
    }
    if (!failed && (lstat(endpoint.socketPath.c_str(), &now) != 0 || !sameFile(now, listener.socketFile))) {
        FileDescriptor old(listener.socket.release());
        if (!bindSocket(listener)) {
            listener.socket.reset(old.release());
            failed = "the socket could not be made again";
        } else {
            // Launches that reached the old socket before it went are still
            // answered.
            struct pollfd waiting = {old.get(), POLLIN, 0};
            while (poll(&waiting, 1, 0) > 0) {
                int fd = accept4(old.get(), nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0) break;
                startWorker(listener.launcher, fd);
            }
            restored = true;
        }
    }
    if (failed) {
        // Nothing more to do here: later launches say why they give up.
        listener.watch.reset();
        listener.bound = false;
    }
    if (failed || restored) {
        TRACE_EVENT("single instance")
            .field("restored", failed ? "no" : "yes")
            .field("reason", failed ? failed : "a file of the first instance was removed")
            .field("socket", platform::fromNative(endpoint.socketPath.c_str()));
    }
}

void* listenerThreadMain(void* parameter) {
    Listener& listener = *static_cast<Listener*>(parameter);
    for (;;) {
        struct pollfd waits[3] = {{listener.socket.get(), POLLIN, 0},
                                  {listener.stopRead.get(), POLLIN, 0},
                                  {listener.watch.get(), POLLIN, 0}};
        if (poll(waits, listener.watch.get() >= 0 ? 3 : 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (waits[1].revents) break;
        if (listener.watch.get() >= 0 && waits[2].revents) {
            char events[4096];
            while (read(listener.watch.get(), events, sizeof events) > 0) {
            }
            if (!listener.abandoned) restoreEndpoint(listener);
            continue;
        }
        if (!waits[0].revents) continue;
        int fd = accept4(listener.socket.get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            startWorker(listener.launcher, fd);
        } else if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) {
            // Out of descriptors or memory: the waiting launches keep their
            // place in the backlog.
            pauseMs(kRetryMs);
        }
    }
    return nullptr;
}

bool becomeFirstInstance(Launcher& launcher, const Endpoint& endpoint, FileDescriptor& lock) {
    Listener* listener = new Listener;
    launcher.instanceListener = listener;
    listener->launcher = &launcher;
    listener->endpoint = endpoint;
    listener->lock.reset(lock.release());
    if (!bindSocket(*listener)) return false;
    watchFolder(*listener);
    int stop[2];
    if (pipe2(stop, O_CLOEXEC) != 0) return false;
    listener->stopRead.reset(stop[0]);
    listener->stopWrite.reset(stop[1]);
    launcher.vmReadyEvent = &mainStartedEvent;
    if (pthread_create(&listener->thread, nullptr, listenerThreadMain, listener) != 0) return false;
    listener->running = true;
    return true;
}

enum class HandOver { Taken, NotTaken, Failed };

// Sends the request and waits until a worker of the first instance has
// taken it. That wait has no time limit (the first instance takes it once
// main has started), but it ends when the first instance ends.
HandOver handOverOnce(int fd, const NarrowString& request) {
    if (!sendAll(fd, request.data(), request.size())) return HandOver::NotTaken;
    setTimeouts(fd, 0);
    uint8_t taken = 0;
    if (!receiveAll(fd, &taken, 1)) return HandOver::NotTaken;
    return taken == kHandOverTaken ? HandOver::Taken : HandOver::Failed;
}

// A connection to the first instance's listener, or -1 when nobody of this
// user listens there (yet, or any more); missing tells whether the socket
// file was there at all.
int connectToFirstInstance(const NarrowString& path, bool& missing) {
    missing = false;
    struct sockaddr_un address;
    if (!socketAddress(path, address)) return -1;
    FileDescriptor fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return -1;
    // Also bounds the connect while the listener's backlog is full.
    setTimeouts(fd.get(), kTransferPatienceMs);
    if (connect(fd.get(), reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) {
        missing = errno == ENOENT;
        return -1;
    }
    if (!peerIsUser(fd.get())) return -1;
    return fd.release();
}

}  // namespace

// The lock the run before this start held, when it is this program's lock
// file still: taken over as it is (still locked). Closed otherwise.
static int inheritedLock(Launcher& launcher, const Endpoint* endpoint) {
    FileDescriptor inherited(launcher.again.heldLock >= 0 ? static_cast<int>(launcher.again.heldLock) : -1);
    launcher.again.heldLock = -1;
    struct stat held, named;
    if (inherited.get() < 0 || !endpoint || fstat(inherited.get(), &held) != 0 ||
        lstat(endpoint->lockPath.c_str(), &named) != 0 || !sameFile(held, named) || held.st_uid != geteuid() ||
        fcntl(inherited.get(), F_SETFD, FD_CLOEXEC) != 0)
        return -1;
    return inherited.release();
}

bool setUpSingleInstance(Launcher& launcher) {
    if (!singleInstanceWanted(launcher)) {
        inheritedLock(launcher, nullptr);
        return true;
    }
    launcher.singleInstance = true;
    WideString module;
    if (!modulePath(launcher, module)) return false;
    Endpoint endpoint;
    FileDescriptor lock;
    bool found = findEndpoint(module, launcher.productCode, endpoint);
    int inherited = inheritedLock(launcher, found ? &endpoint : nullptr);
    if (inherited >= 0) {
        TRACE_EVENT("single instance").field("lock", "taken over from the run before");
        lock.reset(inherited);
    } else if (found) {
        lock.reset(openLockFile(endpoint.lockPath));
    }
    // Nowhere private to meet: an ordinary instance, as on Windows when the
    // shared block cannot be made.
    if (lock.get() < 0) {
        launcher.singleInstance = false;
        return true;
    }
    NarrowString request;
    WideString folder;
    if (!platform::currentDirectory(folder)) folder.clear();
    bool requestFits = encodeHandOverRequest(launcher.arguments, folder, request);
    int64_t deadline = nowMs() + kDecisionPatienceMs;
    int64_t missingSince = -1;
    int untaken = 0;
    for (;;) {
        // Only a living first instance holds the lock: no two first
        // instances, and a crashed one's socket is taken over.
        if (flock(lock.get(), LOCK_EX | LOCK_NB) == 0) {
            launcher.isPrimaryInstance = true;
            // A half-made first instance releases it all and runs as an
            // ordinary instance.
            if (!becomeFirstInstance(launcher, endpoint, lock)) releaseSingleInstance(launcher);
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            launcher.singleInstance = false;
            return true;
        }
        bool missing = false;
        FileDescriptor connection(connectToFirstInstance(endpoint.socketPath, missing));
        if (connection.get() >= 0) {
            missingSince = -1;
            if (!requestFits)
                return giveUp(u"The arguments are too long to hand over to the running instance of this program.",
                              endpoint.socketPath);
            HandOver result = handOverOnce(connection.get(), request);
            if (result == HandOver::Taken) {
                TRACE_EVENT("hand-over").field("result", "handed over");
                launcher.firstInstanceProcess = new FileDescriptor(connection.release());
                return true;
            }
            if (result == HandOver::Failed || ++untaken >= kMaxUntakenAttempts)
                return giveUp(u"The running instance of this program did not take the arguments.",
                              endpoint.socketPath);
            // The first instance ended before it took the arguments: they
            // go to the next first instance, which may be this launch.
            deadline = nowMs() + kDecisionPatienceMs;
        } else if (missing && missingSince >= 0 && nowMs() - missingSince >= kMissingSocketPatienceMs) {
            return giveUp(u"The running instance of this program cannot be reached: its socket file was removed.",
                          endpoint.socketPath);
        } else if (nowMs() >= deadline) {
            return giveUp(u"The running instance of this program does not answer.", endpoint.socketPath);
        } else if (missing && missingSince < 0) {
            missingSince = nowMs();
        } else if (!missing) {
            missingSince = -1;
        }
        pauseMs(kRetryMs);
    }
}

bool waitForFirstInstance(Launcher& launcher, int32_t& code) {
    code = -1;
    FileDescriptor* connection = static_cast<FileDescriptor*>(launcher.firstInstanceProcess);
    if (!connection) return true;
    uint8_t answer[4];
    // The connection ends with the first instance. Its exit code cannot be
    // read here (it is no child of this process): -1, never success.
    if (!receiveAll(connection->get(), answer, sizeof answer)) {
        platform::writeStandardError(u"The running instance of this program ended before it answered.");
        TRACE_EVENT("hand-over").field("result", "the first instance ended before answering");
        return true;
    }
    code = decodeAnswer(answer);
    TRACE_EVENT("hand-over").field("result", "answered").field("code", code);
    return true;
}

void releaseSingleInstance(Launcher& launcher) {
    Listener* listener = static_cast<Listener*>(launcher.instanceListener);
    if (listener) {
        closeGate();
        if (listener->running) {
            listener->stopWrite.reset();
            pthread_join(listener->thread, nullptr);
        }
        // Launches still in the backlog see their connection end untaken and
        // try again. The lock goes last: the launch that takes it next finds
        // this socket file gone and makes its own.
        listener->watch.reset();
        listener->socket.reset();
        if (listener->bound) unlink(listener->endpoint.socketPath.c_str());
        listener->lock.reset();
        delete listener;
        launcher.instanceListener = nullptr;
    }
    if (launcher.vmReadyEvent == &mainStartedEvent) launcher.vmReadyEvent = nullptr;
    delete static_cast<FileDescriptor*>(launcher.firstInstanceProcess);
    launcher.firstInstanceProcess = nullptr;
    launcher.singleInstance = false;
    launcher.isPrimaryInstance = false;
}

intptr_t abandonSingleInstance(Launcher& launcher) {
    Listener* listener = static_cast<Listener*>(launcher.instanceListener);
    if (!listener) return -1;
    // The socket file goes, so that no launch reaches this run any more
    // (connections in the backlog end untaken when the process starts
    // again, and try again); the lock stays held across the new start, which
    // takes it over, so that no other launch becomes the first instance
    // meanwhile.
    listener->abandoned = true;
    if (listener->bound) unlink(listener->endpoint.socketPath.c_str());
    listener->bound = false;
    int lock = listener->lock.get();
    if (lock < 0 || fcntl(lock, F_SETFD, 0) != 0) return -1;
    return lock;
}

// The process executes itself anew and keeps its lock: nothing to keep here.
void* keepInstanceBlock(Launcher&) { return nullptr; }
void letGoOfInstanceBlock(void*) {}

// Nothing here pair-launches: retiring is releasing.
void retireSingleInstance(Launcher& launcher) { releaseSingleInstance(launcher); }
