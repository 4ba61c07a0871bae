#ifndef PLATFORM_MEMCHECK_H
#define PLATFORM_MEMCHECK_H

// Marks for valgrind's memcheck where memory changes hands without a system
// call or a heap block it could watch (pooled cells, bytes a simulated
// device takes in-process). Without valgrind's header, and outside
// valgrind, they do nothing.
#if defined(__has_include)
#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#define GW_MEMCHECK_UNDEFINED(p, n) VALGRIND_MAKE_MEM_UNDEFINED(p, n)
#define GW_MEMCHECK_NOACCESS(p, n) VALGRIND_MAKE_MEM_NOACCESS(p, n)
#define GW_MEMCHECK_WRITTEN(p, n) (void)VALGRIND_CHECK_MEM_IS_DEFINED(p, n)
#endif
#endif
#ifndef GW_MEMCHECK_UNDEFINED
#define GW_MEMCHECK_UNDEFINED(p, n) ((void)(p), (void)(n))
#define GW_MEMCHECK_NOACCESS(p, n) ((void)(p), (void)(n))
#define GW_MEMCHECK_WRITTEN(p, n) ((void)(p), (void)(n))
#endif

#endif
