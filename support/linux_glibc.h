/* Included before every source of the Linux executable: the C library's
   functions that current versions export under a newer version than older
   systems have are bound to their oldest version (the same functions). */
#ifndef SUPPORT_LINUX_GLIBC_H
#define SUPPORT_LINUX_GLIBC_H

#if defined(__x86_64__)
#define LAUNCHER_OLDEST_GLIBC(name) __asm__(".symver " #name "," #name "@GLIBC_2.2.5");
LAUNCHER_OLDEST_GLIBC(pthread_create)
LAUNCHER_OLDEST_GLIBC(pthread_join)
LAUNCHER_OLDEST_GLIBC(pthread_attr_setstacksize)
LAUNCHER_OLDEST_GLIBC(pthread_attr_init)
LAUNCHER_OLDEST_GLIBC(pthread_attr_destroy)
LAUNCHER_OLDEST_GLIBC(dlopen)
LAUNCHER_OLDEST_GLIBC(dlsym)
LAUNCHER_OLDEST_GLIBC(dlerror)
LAUNCHER_OLDEST_GLIBC(dlclose)
LAUNCHER_OLDEST_GLIBC(pthread_sigmask)
#undef LAUNCHER_OLDEST_GLIBC
#endif

#endif
