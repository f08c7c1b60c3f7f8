/*
 * Document store: the steps of a location path.  A '/' separates two steps
 * only where it lies outside every predicate and quoted literal, so that
 * attribute values may hold '/', brackets, quotes of the other kind and
 * " and " and still be created and cut by path.
 */
#include "xmldata.h"

#include <limits.h>

#include "../common/banned.h"

extern "C" size_t xml_path_step_len(const char *path)
{
    size_t depth = 0;
    char quote = 0;
    size_t i;

    if (!path)
        return 0;
    for (i = 0; path[i]; i++) {
        char c = path[i];

        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '\'' || c == '"') {
            /* A literal only stands inside a predicate. */
            if (depth > 0)
                quote = c;
        } else if (c == '[') {
            depth++;
        } else if (c == ']') {
            if (depth > 0)
                depth--;
        } else if (c == '/' && depth == 0) {
            break;
        }
    }
    return i;
}

extern "C" int xml_path_parent_len(const char *path)
{
    const char *p = path;
    long last = -1;

    if (!path)
        return -1;
    for (;;) {
        p += xml_path_step_len(p);
        if (*p == '\0')
            break;
        last = p - path;
        p++;
    }
    return last > (long)INT_MAX ? -1 : (int)last;
}
