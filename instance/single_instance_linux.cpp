// Single instance on Linux: a local socket per executable and product in a
// folder only the user can enter, and a lock file beside it that the first
// instance holds for its whole life (the system drops the lock of a process
// that crashed). The first instance's listener thread starts one worker per
// second instance; the worker reads the arguments, waits until main has
// started, attaches to the virtual machine and answers.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
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
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    for (const NarrowString& folder : instanceFolders(runtime ? runtime : "", geteuid(), name)) {
        // Made when missing; one that someone else made first fails the check.
        mkdir(folder.c_str(), 0700);
        if (!folderIsPrivate(folder)) continue;
        endpoint.socketPath = folder + "/" + name;
        endpoint.lockPath = folder + "/" + instanceLockName(name);
        return true;
    }
    return false;
}

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
    NarrowString path;
    FileDescriptor lock;  // held for the first instance's life
    FileDescriptor socket;
    bool bound = false;  // the socket file is this process's to remove
    FileDescriptor stopRead;
    FileDescriptor stopWrite;  // closed to stop the listener
    pthread_t thread;
    bool running = false;
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

void* listenerThreadMain(void* parameter) {
    Listener& listener = *static_cast<Listener*>(parameter);
    struct pollfd waits[2] = {{listener.socket.get(), POLLIN, 0}, {listener.stopRead.get(), POLLIN, 0}};
    for (;;) {
        if (poll(waits, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (waits[1].revents) break;
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
    listener->path = endpoint.socketPath;
    listener->lock.reset(lock.release());
    const char* path = endpoint.socketPath.c_str();
    // A socket left by a first instance that crashed: nobody listens there,
    // and only the lock's holder touches the socket file.
    struct stat info;
    if (lstat(path, &info) == 0 && (!S_ISSOCK(info.st_mode) || info.st_uid != geteuid() || unlink(path) != 0))
        return false;
    struct sockaddr_un address;
    if (!socketAddress(endpoint.socketPath, address)) return false;
    listener->socket.reset(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (listener->socket.get() < 0) return false;
    if (bind(listener->socket.get(), reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) return false;
    listener->bound = true;
    chmod(path, 0600);
    if (listen(listener->socket.get(), SOMAXCONN) != 0) return false;
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

// A hand-over that cannot be made ends the launch with -1; the trace says why.
bool giveUp(const char* reason) {
    TRACE_EVENT("hand-over").field("result", "gave up").field("reason", reason);
    return false;
}

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
// user listens there (yet, or any more).
int connectToFirstInstance(const NarrowString& path) {
    struct sockaddr_un address;
    if (!socketAddress(path, address)) return -1;
    FileDescriptor fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return -1;
    // Also bounds the connect while the listener's backlog is full.
    setTimeouts(fd.get(), kTransferPatienceMs);
    if (connect(fd.get(), reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) return -1;
    if (!peerIsUser(fd.get())) return -1;
    return fd.release();
}

}  // namespace

bool setUpSingleInstance(Launcher& launcher) {
    if (!singleInstanceWanted(launcher)) return true;
    launcher.singleInstance = true;
    WideString module;
    if (!modulePath(launcher, module)) return false;
    Endpoint endpoint;
    FileDescriptor lock;
    if (findEndpoint(module, launcher.productCode, endpoint)) lock.reset(openLockFile(endpoint.lockPath));
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
        FileDescriptor connection(connectToFirstInstance(endpoint.socketPath));
        if (connection.get() >= 0) {
            if (!requestFits) return giveUp("the arguments do not fit a request");
            HandOver result = handOverOnce(connection.get(), request);
            if (result == HandOver::Taken) {
                TRACE_EVENT("hand-over").field("result", "handed over");
                launcher.firstInstanceProcess = new FileDescriptor(connection.release());
                return true;
            }
            if (result == HandOver::Failed) return giveUp("the first instance refused the request");
            if (++untaken >= kMaxUntakenAttempts) return giveUp("the list was not taken in 100 rounds");
            // The first instance ended before it took the arguments: they
            // go to the next first instance, which may be this launch.
            deadline = nowMs() + kDecisionPatienceMs;
        } else if (nowMs() >= deadline) {
            return giveUp("no first instance could be reached or become within 10 s");
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
        TRACE_EVENT("hand-over").field("result", "the first instance ended before answering").field("code", code);
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
        listener->socket.reset();
        if (listener->bound) unlink(listener->path.c_str());
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

// Nothing here pair-launches: retiring is releasing.
void retireSingleInstance(Launcher& launcher) { releaseSingleInstance(launcher); }
