/*
 * Functions that write into a buffer without knowing its size are banned
 * from this code base: every append into a fixed buffer must be bounded
 * by the room left in it (use snprintf).  Include this header last, after
 * every system header, so that a use of one of these names fails to compile.
 */
#ifndef XMLCFG_BANNED_H
#define XMLCFG_BANNED_H

#define BANNED(func) sorry_##func##_is_a_banned_function

#undef strcpy
#define strcpy(x, y) BANNED(strcpy)
#undef strcat
#define strcat(x, y) BANNED(strcat)
#undef sprintf
#define sprintf(...) BANNED(sprintf)
#undef vsprintf
#define vsprintf(...) BANNED(vsprintf)
#undef gets
#define gets(x) BANNED(gets)

#endif
