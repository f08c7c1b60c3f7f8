#include "fuzz.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "../cli/console.h"
#include "../delta/delta.h"
#include "../merge/merge.h"
#include "../walk/walk.h"
#include "../xmldata/xmldata_input.h"

#include "../common/banned.h"

static char fuzz_dir[FUZZ_PATH_SIZE];

void fuzz_split(const uint8_t *data, size_t size, int count, FuzzParts *parts)
{
    const char *p = reinterpret_cast<const char *>(data);
    size_t left = size;
    int more = 1;
    int i;

    memset(parts, 0, sizeof(*parts));
    for (i = 0; i < FUZZ_MAX_PARTS; i++)
        parts->data[i] = "";
    if (count > FUZZ_MAX_PARTS)
        count = FUZZ_MAX_PARTS;
    for (i = 0; i < count && more; i++) {
        const char *nul = (i < count - 1 && left > 0) ? static_cast<const char *>(memchr(p, 0, left)) : NULL;
        size_t len = nul ? static_cast<size_t>(nul - p) : left;

        parts->data[i] = p;
        parts->size[i] = len;
        parts->present = i + 1;
        p += len;
        left -= len;
        more = nul != NULL;
        if (nul) {
            p++;
            left--;
        }
    }
}

static void remove_folder(void)
{
    fuzz_end();
    if (fuzz_dir[0])
        rmdir(fuzz_dir);
}

void fuzz_reset_run_state(void)
{
    reset_walk_state();
    reset_delta_state();
    keep_local_tags = 1;
    xml_lib_error = 0;
}

int fuzz_begin(int delta)
{
    const char *tmp = getenv("TMPDIR");

    verbose_level = -1;
    fuzz_reset_run_state();
    delta_mode = delta;
    if (fuzz_dir[0])
        return 0;
    if (!tmp || !tmp[0])
        tmp = "/tmp";
    snprintf(fuzz_dir, sizeof(fuzz_dir), "%s/xmlcfg-fuzz.XXXXXX", tmp);
    if (!mkdtemp(fuzz_dir)) {
        fuzz_dir[0] = '\0';
        return -1;
    }
    atexit(remove_folder);
    return 0;
}

int fuzz_path(const char *name, char *path)
{
    int n = snprintf(path, FUZZ_PATH_SIZE, "%s/%s", fuzz_dir, name);

    return (n < 0 || n >= FUZZ_PATH_SIZE) ? -1 : 0;
}

int fuzz_write_part(const FuzzParts *parts, int i, const char *name, char *path)
{
    const char *p = parts->data[i];
    size_t left = parts->size[i];
    int fd;

    if (fuzz_path(name, path) != 0)
        return -1;
    fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return -1;
    while (left > 0) {
        ssize_t n = write(fd, p, left);

        if (n <= 0) {
            close(fd);
            return -1;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return close(fd);
}

static void fail(const char *what, const char *path)
{
    fprintf(stderr, "fuzz check failed: %s: %s\n", what, path);
    abort();
}

/* The whole file at path in a block to free(), its size in *size; NULL
 * when there is no such file. */
static char *read_file(const char *path, size_t *size)
{
    FILE *f = fopen(path, "rb");
    char *text = NULL;
    long len;

    if (!f)
        return NULL;
    if (fseek(f, 0, SEEK_END) == 0 && (len = ftell(f)) >= 0 && fseek(f, 0, SEEK_SET) == 0) {
        text = static_cast<char *>(malloc(static_cast<size_t>(len) + 1));
        if (text && fread(text, 1, static_cast<size_t>(len), f) != static_cast<size_t>(len)) {
            free(text);
            text = NULL;
        }
        *size = static_cast<size_t>(len);
    }
    fclose(f);
    if (!text)
        fail("cannot read", path);
    return text;
}

void fuzz_expect_same(const char *path, const FuzzParts *parts, int i)
{
    size_t size = 0;
    char *text = read_file(path, &size);

    if (!text || size != parts->size[i] || memcmp(text, parts->data[i], size) != 0)
        fail("a failed run changed its input", path);
    free(text);
}

void fuzz_expect_parses(const char *path)
{
    xmlDocPtr doc;

    if (access(path, F_OK) != 0)
        return;
    doc = xmlReadFile(path, NULL, XML_PARSE_NONET);
    if (!doc)
        fail("output is not well formed", path);
    xmlFreeDoc(doc);
}

void fuzz_expect_delta_lines(const char *path)
{
    size_t size = 0;
    char *text = read_file(path, &size);

    if (!text || size == 0) {
        free(text);
        return;
    }
    /* Paths are written unescaped: a line feed in an attribute value
     * splits a record, so only the file's ends are checked. */
    if (size < 6 || text[size - 1] != '\n' ||
        (memcmp(text, "MOD=/", 5) != 0 && memcmp(text, "DEL=/", 5) != 0 && memcmp(text, "ADD=/", 5) != 0))
        fail("delta file does not start with a tagged path or end with a line feed", path);
    free(text);
}

/* 1 when text (size bytes) holds needle. */
static int holds(const char *text, size_t size, const char *needle)
{
    size_t n = strlen(needle);
    size_t i;

    for (i = 0; i + n <= size; i++) {
        if (memcmp(text + i, needle, n) == 0)
            return 1;
    }
    return 0;
}

/* Lines of the merge's console that name a limit the manual documents. */
static const char *const documented_limits[] = {
    "does not fit after a path of", "expand to more than", "could not be read back",
    "still selects past the", "no room to move on from", "Cannot save",
    /* Entries of a declared list that cannot be matched are refused. */
    "has no key", "has an unusable key", "has two entries with key", "does not fit in a path",
};

/* 1 when the console text at path names a documented limit. */
static int names_documented_limit(const char *path)
{
    size_t size = 0;
    char *text = read_file(path, &size);
    int found = 0;

    for (size_t i = 0; i < sizeof(documented_limits) / sizeof(documented_limits[0]) && !found; i++)
        found = holds(text, size, documented_limits[i]);
    free(text);
    return found;
}

/* The merge of part i with itself as O, N and D; its console goes to log. */
static int merge_with_itself(const char *o, const char *n, const char *d, const char *log)
{
    int saved = dup(STDERR_FILENO);
    int fd = open(log, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int rc;

    if (saved < 0 || fd < 0 || dup2(fd, STDERR_FILENO) < 0)
        fail("cannot capture the console in", log);
    close(fd);
    fuzz_reset_run_state();
    verbose_level = 0;
    rc = xml_merge_and_update(o, n, d, 0);
    verbose_level = -1;
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    return rc;
}

void fuzz_expect_self_merge(const FuzzParts *parts, int i)
{
    char o[FUZZ_PATH_SIZE];
    char n[FUZZ_PATH_SIZE];
    char d[FUZZ_PATH_SIZE];
    char want[FUZZ_PATH_SIZE];
    char log[FUZZ_PATH_SIZE];
    xmlDocPtr doc;
    size_t size = 0;
    size_t want_size = 0;
    char *got;
    char *expected;
    int good;

    if (fuzz_write_part(parts, i, "self-o.xml", o) != 0 || fuzz_write_part(parts, i, "self-n.xml", n) != 0 ||
        fuzz_write_part(parts, i, "self-d.xml", d) != 0 || fuzz_path("self-want.xml", want) != 0 ||
        fuzz_path("self-log.txt", log) != 0)
        return;
    /* The document as the merge loads it, from the same bytes (nothing
     * unpacked); only one the library reads without a word is good. */
    xml_lib_setup();
    xml_lib_error = 0;
    doc = xmlReadMemory(parts->data[i], static_cast<int>(parts->size[i]), n, NULL, 0);
    good = doc && !xml_lib_error && xmldata_document_expansion(doc) == 0 &&
           xmldata_expand_markup_references(doc) == 0 && xmlSaveFile(want, doc) >= 0;
    xmlFreeDoc(doc);
    if (!good)
        return;
    if (merge_with_itself(o, n, d, log) != 0) {
        if (names_documented_limit(log))
            return;
        fail("a merge of a good document with itself failed", log);
    }
    if (xml_lib_error)
        fail("a merge of a good document with itself met a library error", log);
    got = read_file(d, &size);
    expected = read_file(want, &want_size);
    if (!got || !expected || size != want_size || memcmp(got, expected, size) != 0)
        fail("a merge of a document with itself is not the document as loaded", d);
    free(got);
    free(expected);
}

void fuzz_end(void)
{
    char path[FUZZ_PATH_SIZE];
    DIR *dir = fuzz_dir[0] ? opendir(fuzz_dir) : NULL;
    struct dirent *e;

    if (!dir)
        return;
    /* Outputs and any temporary file that a save left behind. */
    while ((e = readdir(dir)) != NULL) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0)
            continue;
        if (fuzz_path(e->d_name, path) == 0)
            unlink(path);
    }
    closedir(dir);
}
