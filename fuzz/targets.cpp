/*
 * The libFuzzer targets.  This file is built once per target, with one of
 * FUZZ_VALIDATE, FUZZ_DELTA, FUZZ_MERGE, FUZZ_KEYED, FUZZ_CROSS or FUZZ_PATHS
 * defined.
 *
 * Besides the sanitizers, the merge checks that a failed run left D as it
 * was and that a saved D is well formed, and that N merged with itself as
 * O, N and D succeeds and is N as loaded; the cross merge that its output
 * is well formed, and the delta that its file starts with a tagged path
 * and ends with a line feed.
 *
 *   validate  the whole input is the file checked by -o
 *   delta     old and new file of -m
 *   merge     old, new and device file of the merge; a fourth part, even
 *             empty, runs it with -p
 *   cross     old file, new file and tag list of -c
 *   keyed     a keys file, then old, new and device file: the merge and
 *             the delta with the lists it declares, and N merged with
 *             itself, which must give N as loaded
 *   paths     a document (a small fixed one when the part is not well
 *             formed), then up to three strings, each used as an element
 *             step and as a path by the store's path creation and the
 *             walk's path editing
 */
#include <stdlib.h>
#include <string.h>

#include "fuzz.h"
#include "../cli/console.h"
#include "../crossmerge/crossmerge.h"
#include "../delta/delta.h"
#include "../merge/merge.h"
#include "../walk/keys.h"
#include "../walk/reader.h"
#include "../walk/walk.h"
#include "../xmldata/xmldata.h"

#include "../common/banned.h"

/* Each target: how many parts it reads, whether the walk runs in delta
 * mode, and what it does with the parts. */
#if defined(FUZZ_VALIDATE)
#define TARGET_PARTS 1
#define TARGET_DELTA 0
static void run(const FuzzParts *parts)
{
    char file[FUZZ_PATH_SIZE];

    if (fuzz_write_part(parts, 0, "v.xml", file) == 0)
        xml_verify_xml_syntax(file);
}
#elif defined(FUZZ_DELTA)
#define TARGET_PARTS 2
#define TARGET_DELTA 1
static void run(const FuzzParts *parts)
{
    char o[FUZZ_PATH_SIZE];
    char n[FUZZ_PATH_SIZE];
    char out[FUZZ_PATH_SIZE];

    if (fuzz_write_part(parts, 0, "o.xml", o) == 0 && fuzz_write_part(parts, 1, "n.xml", n) == 0 &&
        fuzz_path("delta.txt", out) == 0) {
        xml_create_xpath_delta(o, n, out);
        fuzz_expect_delta_lines(out);
    }
}
#elif defined(FUZZ_MERGE)
#define TARGET_PARTS 4
#define TARGET_DELTA 0
static void run(const FuzzParts *parts)
{
    char o[FUZZ_PATH_SIZE];
    char n[FUZZ_PATH_SIZE];
    char d[FUZZ_PATH_SIZE];

    if (fuzz_write_part(parts, 0, "o.xml", o) == 0 && fuzz_write_part(parts, 1, "n.xml", n) == 0 &&
        fuzz_write_part(parts, 2, "d.xml", d) == 0) {
        /* A failed merge leaves D as it was; a merge that went through
         * leaves a D that can be read again. */
        if (xml_merge_and_update(o, n, d, parts->present > 3) != 0)
            fuzz_expect_same(d, parts, 2);
        else
            fuzz_expect_parses(d);
        /* A merge that fails, or changes something, on a good input. */
        fuzz_expect_self_merge(parts, 1);
    }
}
#elif defined(FUZZ_KEYED)
#define TARGET_PARTS 4
#define TARGET_DELTA 0
static KeyLists keyed_lists;

static void run(const FuzzParts *parts)
{
    char keys[FUZZ_PATH_SIZE];
    char o[FUZZ_PATH_SIZE];
    char n[FUZZ_PATH_SIZE];
    char d[FUZZ_PATH_SIZE];
    char out[FUZZ_PATH_SIZE];

    if (fuzz_write_part(parts, 0, "keys.xml", keys) != 0 || fuzz_write_part(parts, 1, "o.xml", o) != 0 ||
        fuzz_write_part(parts, 2, "n.xml", n) != 0 || fuzz_write_part(parts, 3, "d.xml", d) != 0 ||
        fuzz_path("delta.txt", out) != 0 || keys_read(keys, &keyed_lists) != 0)
        return;
    walk_set_lists(&keyed_lists);
    if (xml_merge_and_update(o, n, d, 0) != 0)
        fuzz_expect_same(d, parts, 3);
    else
        fuzz_expect_parses(d);
    fuzz_expect_self_merge(parts, 2);
    xml_create_xpath_delta(o, n, out);
    fuzz_expect_delta_lines(out);
    walk_set_lists(NULL);
}
#elif defined(FUZZ_CROSS)
#define TARGET_PARTS 3
#define TARGET_DELTA 0
static void run(const FuzzParts *parts)
{
    char o[FUZZ_PATH_SIZE];
    char n[FUZZ_PATH_SIZE];
    char list[FUZZ_PATH_SIZE];
    char out[FUZZ_PATH_SIZE];

    if (fuzz_write_part(parts, 0, "o.xml", o) == 0 && fuzz_write_part(parts, 1, "n.xml", n) == 0 &&
        fuzz_write_part(parts, 2, "list.xml", list) == 0 && fuzz_path("out.xml", out) == 0) {
        xml_cross_merge(o, n, list, out);
        fuzz_expect_parses(out);
    }
}
#elif defined(FUZZ_PATHS)
#define TARGET_PARTS 4
#define TARGET_DELTA 0
/* A terminated copy of part i, or NULL when out of memory. */
static char *part_string(const FuzzParts *parts, int i)
{
    char *s = static_cast<char *>(malloc(parts->size[i] + 1));

    if (s) {
        memcpy(s, parts->data[i], parts->size[i]);
        s[parts->size[i]] = '\0';
    }
    return s;
}

/* The walk's path editing on s, in a path buffer as the walk holds one. */
static void edit_walk_path(const char *s)
{
    char path[XPATH_BUF_SIZE];

    snprintf(path, sizeof(path), "%s", s);
    remove_last_step(path);
    snprintf(path, sizeof(path), "%s", s);
    increment_xpath_index(path, 1);
    append_xpath_step(s, path);
}

static void run(const FuzzParts *parts)
{
    XmlState *state = xml_init();
    char *doc = part_string(parts, 0);
    char *prev = NULL;
    int i;

    xml_lib_setup();
    if (!state || !doc)
        goto out;
    if (xml_read_memory(state, doc) != 0 && xml_read_memory(state, "<config><a x='1'><b/></a><a/></config>") != 0)
        goto out;
    for (i = 1; i < parts->present; i++) {
        char *s = part_string(parts, i);

        if (!s)
            break;
        xml_insert_node_with_attr(state, prev ? prev : "/*", s);
        xml_create_node_path_if_possible(state, s);
        xml_create_node_path_if_possible_with_attr(state, s);
        edit_walk_path(s);
        free(prev);
        prev = s;
    }
out:
    free(prev);
    free(doc);
    xml_fini(state);
}

#else
#error "define one of FUZZ_VALIDATE, FUZZ_DELTA, FUZZ_MERGE, FUZZ_KEYED, FUZZ_CROSS, FUZZ_PATHS"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzParts parts;

    if (fuzz_begin(TARGET_DELTA) != 0)
        return 0;
    fuzz_split(data, size, TARGET_PARTS, &parts);
    run(&parts);
    fuzz_end();
    return 0;
}
