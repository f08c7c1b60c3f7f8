/*
 * Document store: the steps of a location path.  A '/' separates two steps
 * only where it lies outside every predicate and quoted literal, so that
 * attribute values may hold '/', brackets, quotes of the other kind and
 * " and " and still be created and cut by path.
 */
#include "xmldata.h"

#include <limits.h>
#include <string.h>

#include "../common/banned.h"

extern "C" size_t xml_path_step_len(const char *path)
{
    size_t depth = 0;
    size_t i = 0;

    if (!path)
        return 0;
    /* Jumps from one character that matters to the next: '/' and '[' in
     * the step's own text; brackets and quotes in a predicate; the closing
     * quote in a literal (a literal only stands inside a predicate). */
    for (;;) {
        const char *close;
        char c;

        if (depth == 0) {
            i += strcspn(path + i, "/[");
            if (path[i] != '[')
                return i;
            depth = 1;
            i++;
            continue;
        }
        i += strcspn(path + i, "[]'\"");
        c = path[i];
        if (c == '\0')
            return i;
        if (c == '[') {
            depth++;
        } else if (c == ']') {
            depth--;
        } else {
            close = strchr(path + i + 1, c);
            if (!close)
                return i + strlen(path + i);
            i = (size_t)(close - path);
        }
        i++;
    }
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
