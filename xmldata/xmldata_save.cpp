/*
 * Document store: saving a document to a file.
 *
 * The document is written to a new file beside the target and renamed over
 * it, so that the target holds either its old content or the whole new
 * document, never a part of it, whether the run is killed, the disk fills
 * up or the device loses power.  The new file takes the old one's owner and
 * mode.
 *
 * The save runs as root in a folder that others may be able to write, so it
 * touches no name it has not just created: the temporary file is written,
 * given its owner and mode and flushed through the one descriptor that
 * created it, and renamed only while its name still refers to that file.
 * A symbolic link as the target is followed only where the kernel's
 * protected-symlinks rule would follow it, and only regular files are
 * replaced.  Nothing is ever written in place.
 *
 * Temporary files are named ".NAME.xmlcfg-XXXXXX" beside the target NAME;
 * a run that was killed leaves one behind, and the next save of NAME
 * removes it.
 */
#include "xmldata.h"
#include "xmldata_log.h"
#include "xmldata_save_hook.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>

#include "../common/banned.h"

#ifdef XMLDATA_SAVE_HOOK
void (*xmldata_save_hook)(int step, const char *tmp_name);
#define SAVE_STEP(step, name) \
    do { \
        if (xmldata_save_hook) \
            xmldata_save_hook(step, name); \
    } while (0)
#else
#define SAVE_STEP(step, name) \
    do { \
    } while (0)
#endif

#define SAVE_PATH_MAX 4096
#define SAVE_MAX_LINKS 40  /* as many as the kernel follows */
#define SAVE_ATTEMPTS 3    /* temporary files taken over before giving up */
#define TMP_INFIX ".xmlcfg-"
#define TMP_RANDOM 6       /* the characters that mkstemp fills in */

/* The file that a save replaces: the named one, after symbolic links. */
typedef struct SaveTarget {
    char path[SAVE_PATH_MAX];
    char dir[SAVE_PATH_MAX];  /* its folder */
    const char *base;         /* its name in that folder, inside path */
    int exists;
    struct stat st;           /* what lstat says of path, when it exists */
} SaveTarget;

static int set_path(SaveTarget *t, const char *path)
{
    const char *slash = strrchr(path, '/');
    int n = snprintf(t->path, sizeof(t->path), "%s", path);

    if (n < 0 || (size_t)n >= sizeof(t->path)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    if (!slash) {
        snprintf(t->dir, sizeof(t->dir), ".");
        t->base = t->path;
    } else {
        int dir_len = slash == path ? 1 : (int)(slash - path);

        snprintf(t->dir, sizeof(t->dir), "%.*s", dir_len, path);
        t->base = t->path + (slash - path) + 1;
    }
    if (t->base[0] == '\0') {
        errno = path[0] ? EISDIR : ENOENT;
        return -1;
    }
    return 0;
}

/*
 * The kernel's protected-symlinks rule: a link is followed when its owner
 * is root, the one following it, or the owner of the folder it sits in.
 * Anybody else who could write the folder could aim it anywhere.
 */
static int may_follow(const SaveTarget *t)
{
    struct stat dir;

    if (t->st.st_uid == 0 || t->st.st_uid == geteuid())
        return 1;
    return stat(t->dir, &dir) == 0 && dir.st_uid == t->st.st_uid;
}

static int follow_link(SaveTarget *t)
{
    char link[SAVE_PATH_MAX];
    char next[SAVE_PATH_MAX];
    ssize_t len = readlink(t->path, link, sizeof(link));
    int n;

    if (len < 0)
        return -1;
    if ((size_t)len >= sizeof(link)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    link[len] = '\0';
    if (link[0] == '/')
        n = snprintf(next, sizeof(next), "%s", link);
    else
        n = snprintf(next, sizeof(next), "%s/%s", t->dir, link);
    if (n < 0 || (size_t)n >= sizeof(next)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return set_path(t, next);
}

/* Finds the file to replace; refuses links it must not follow and
 * anything but a regular file. */
static int resolve_target(const char *filename, SaveTarget *t)
{
    if (set_path(t, filename) != 0)
        return -1;
    for (int links = 0;; links++) {
        if (lstat(t->path, &t->st) != 0) {
            t->exists = 0;
            return errno == ENOENT ? 0 : -1;
        }
        t->exists = 1;
        if (!S_ISLNK(t->st.st_mode))
            break;
        if (links == SAVE_MAX_LINKS) {
            errno = ELOOP;
            return -1;
        }
        if (!may_follow(t)) {
            XMLDATA_RECORD("[%s]:[%s] - Refusing to follow %s: the link is owned by neither root nor the owner of its folder",
                           t->path);
            errno = ELOOP;
            return -1;
        }
        if (follow_link(t) != 0)
            return -1;
    }
    if (!S_ISREG(t->st.st_mode)) {
        XMLDATA_RECORD("[%s]:[%s] - Refusing to replace %s: not a regular file", t->path);
        errno = S_ISDIR(t->st.st_mode) ? EISDIR : ENOTSUP;
        return -1;
    }
    return 0;
}

static void ignore_library_message(void *, const char *, ...)
{
}

/*
 * Whether a document saved in this encoding can be parsed again: a small
 * document holding markup characters and characters outside ASCII and the
 * basic plane goes out in it and must come back with the same texts.  The
 * library's messages about the probe are not about the caller's document,
 * so they are kept from its handlers.
 */
static int encoding_reads_back(const char *encoding)
{
    static const char probe[] =
        "<p a=\"&lt;&quot;'&amp;&#233;&#x20AC;\">&#233;&#x20AC;&#x10000;&lt;&gt;&amp;</p>";
    xmlGenericErrorFunc generic = xmlGenericError;
    void *generic_ctx = xmlGenericErrorContext;
    xmlStructuredErrorFunc structured = xmlStructuredError;
    void *structured_ctx = xmlStructuredErrorContext;
    xmlDocPtr doc = NULL;
    xmlDocPtr back = NULL;
    xmlChar *text = NULL;
    xmlChar *want = NULL;
    xmlChar *got = NULL;
    xmlChar *want_attr = NULL;
    xmlChar *got_attr = NULL;
    xmlNodePtr root;
    int len = 0;
    int ok = 0;

    xmlSetGenericErrorFunc(NULL, ignore_library_message);
    xmlSetStructuredErrorFunc(NULL, NULL);
    doc = xmlReadMemory(probe, (int)sizeof(probe) - 1, NULL, "UTF-8", XML_PARSE_NONET);
    if (!doc)
        goto out;
    xmlDocDumpMemoryEnc(doc, &text, &len, encoding);
    if (!text)
        goto out;
    back = xmlReadMemory(reinterpret_cast<const char *>(text), len, NULL, NULL, XML_PARSE_NONET);
    root = back ? xmlDocGetRootElement(back) : NULL;
    if (!root || !xmlStrEqual(root->name, BAD_CAST "p"))
        goto out;
    want = xmlNodeGetContent(xmlDocGetRootElement(doc));
    got = xmlNodeGetContent(root);
    want_attr = xmlGetProp(xmlDocGetRootElement(doc), BAD_CAST "a");
    got_attr = xmlGetProp(root, BAD_CAST "a");
    ok = want && want_attr && xmlStrEqual(want, got) && xmlStrEqual(want_attr, got_attr);
out:
    xmlFree(got_attr);
    xmlFree(want_attr);
    xmlFree(got);
    xmlFree(want);
    xmlFree(text);
    xmlFreeDoc(back);
    xmlFreeDoc(doc);
    xmlSetStructuredErrorFunc(structured_ctx, structured);
    xmlSetGenericErrorFunc(generic_ctx, generic);
    return ok;
}

/* Output of the serialisation into a descriptor.  A failed write is kept
 * and reported when the output is closed, where the save looks for it. */
typedef struct FdSink {
    int fd;
    int err;
} FdSink;

static int sink_write(void *context, const char *buf, int len)
{
    FdSink *sink = static_cast<FdSink *>(context);
    int done = 0;

    while (sink->err == 0 && done < len) {
        ssize_t n = write(sink->fd, buf + done, (size_t)(len - done));

        if (n > 0)
            done += (int)n;
        else if (n < 0 && errno != EINTR)
            sink->err = errno;
        else if (n == 0)
            sink->err = EIO;
    }
    return len;
}

static int sink_close(void *context)
{
    return static_cast<FdSink *>(context)->err != 0 ? -1 : 0;
}

/* Writes what xmlSaveFile would write for the document, in the document's
 * own encoding, into fd. */
static int write_document(xmlDocPtr doc, int fd)
{
    const char *encoding = reinterpret_cast<const char *>(doc->encoding);
    xmlCharEncodingHandlerPtr handler = NULL;
    xmlOutputBufferPtr buf;
    FdSink sink = {fd, 0};

    if (encoding) {
        handler = xmlFindCharEncodingHandler(encoding);
        if (!handler) {
            errno = EILSEQ;
            return -1;
        }
    }
    buf = xmlOutputBufferCreateIO(sink_write, sink_close, &sink, handler);
    if (!buf) {
        xmlCharEncCloseFunc(handler);
        errno = ENOMEM;
        return -1;
    }
    if (xmlSaveFormatFileTo(buf, doc, encoding, 0) < 0) {
        errno = sink.err != 0 ? sink.err : EIO;
        return -1;
    }
    return 0;
}

static int set_owner_and_mode(int fd, const SaveTarget *t)
{
    mode_t mode;

    if (t->exists) {
        if (fchown(fd, t->st.st_uid, t->st.st_gid) != 0) {
            /* Keeping the owner is best effort: only root may give a file away. */
        }
        mode = t->st.st_mode & 07777;
    } else {
        mode_t mask = umask(0);

        umask(mask);
        mode = 0666 & ~mask;
    }
    return fchmod(fd, mode);
}

static int same_file(const struct stat *a, const struct stat *b)
{
    return a->st_dev == b->st_dev && a->st_ino == b->st_ino;
}

/*
 * One try at writing the new file and renaming it over the target.  When
 * another process took over the temporary name, the try fails with EAGAIN
 * and the caller may try again under a new name.
 */
static int replace_once(xmlDocPtr doc, const SaveTarget *t)
{
    char tmp[SAVE_PATH_MAX];
    struct stat mine;
    struct stat named;
    int renamed = 0;
    int rc = -1;
    int err;
    int fd;
    int n = snprintf(tmp, sizeof(tmp), "%s/.%s" TMP_INFIX "XXXXXX", t->dir, t->base);

    if (n < 0 || (size_t)n >= sizeof(tmp)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    fd = mkstemp(tmp);
    if (fd < 0)
        return -1;
    SAVE_STEP(XMLDATA_SAVE_CREATED, tmp);
    if (write_document(doc, fd) != 0)
        goto out;
    SAVE_STEP(XMLDATA_SAVE_WRITTEN, tmp);
    if (set_owner_and_mode(fd, t) != 0)
        goto out;
    SAVE_STEP(XMLDATA_SAVE_OWNED, tmp);
    if (fsync(fd) != 0 || fstat(fd, &mine) != 0)
        goto out;
    SAVE_STEP(XMLDATA_SAVE_SYNCED, tmp);
    if (close(fd) != 0) {
        fd = -1;
        goto out;
    }
    fd = -1;
    if (lstat(tmp, &named) != 0 || !same_file(&named, &mine)) {
        XMLDATA_RECORD("[%s]:[%s] - Temporary file %s was replaced during the save", tmp);
        errno = EAGAIN;
        goto out;
    }
    if (rename(tmp, t->path) != 0)
        goto out;
    renamed = 1;
    /* Another file put under the temporary name between the check and the
     * rename took the target's place; the next try replaces it again. */
    if (lstat(t->path, &named) != 0 || !same_file(&named, &mine)) {
        XMLDATA_RECORD("[%s]:[%s] - Temporary file %s was replaced during the save", tmp);
        errno = EAGAIN;
        goto out;
    }
    rc = 0;
out:
    err = errno;
    if (fd >= 0)
        close(fd);
    if (rc != 0 && !renamed)
        unlink(tmp);
    errno = err;
    return rc;
}

static int is_leftover(const char *name, const char *prefix, size_t prefix_len)
{
    if (strncmp(name, prefix, prefix_len) != 0 || strlen(name) != prefix_len + TMP_RANDOM)
        return 0;
    for (const char *c = name + prefix_len; *c; c++) {
        if (!((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9')))
            return 0;
    }
    return 1;
}

/* Removes the temporary files of earlier saves of the target that never
 * got renamed (a killed run): regular files named as this save names its
 * own.  One that cannot be removed is left; it harms nothing. */
static void remove_leftovers(const SaveTarget *t)
{
    char prefix[SAVE_PATH_MAX];
    int n = snprintf(prefix, sizeof(prefix), ".%s" TMP_INFIX, t->base);
    DIR *dir;
    struct dirent *e;
    struct stat st;

    if (n < 0 || (size_t)n >= sizeof(prefix))
        return;
    dir = opendir(t->dir);
    if (!dir)
        return;
    while ((e = readdir(dir)) != NULL) {
        if (is_leftover(e->d_name, prefix, (size_t)n) &&
            fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            unlinkat(dirfd(dir), e->d_name, 0) != 0) {
            /* Left for a later run. */
        }
    }
    closedir(dir);
}

/* The rename is on disk only once the folder is. */
static int sync_folder(const char *path)
{
    int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int rc;
    int err;

    if (fd < 0)
        return -1;
    rc = fsync(fd);
    err = errno;
    close(fd);
    errno = err;
    return rc;
}

static int save_replacing(xmlDocPtr doc, const char *filename)
{
    const char *encoding = reinterpret_cast<const char *>(doc->encoding);
    SaveTarget t;
    int rc = -1;

    if (encoding && !encoding_reads_back(encoding)) {
        XMLDATA_RECORD("[%s]:[%s] - Refusing to save in encoding %s: it cannot be read back", encoding);
        errno = EILSEQ;
        return -1;
    }
    if (resolve_target(filename, &t) != 0)
        return -1;
    remove_leftovers(&t);
    for (int attempt = 0; attempt < SAVE_ATTEMPTS; attempt++) {
        rc = replace_once(doc, &t);
        if (rc == 0 || errno != EAGAIN)
            break;
    }
    if (rc == 0)
        rc = sync_folder(t.dir);
    return rc;
}

extern "C" int xml_save_document(XmlState *state, const char *filename)
{
    int err = EINVAL;

    if (filename && state && state->pDoc) {
        if (save_replacing(state->pDoc, filename) == 0)
            return 0;
        err = errno;
    }
    XMLDATA_RECORD("[%s]:[%s] - Unable to save to %s", xmldata_str(filename));
    errno = err;
    return -1;
}

extern "C" const char *xml_save_error_text(int err)
{
    switch (err) {
    case EILSEQ:
        return "its encoding could not be read back";
    case ELOOP:
        return "a symbolic link that is not followed (owned by neither root nor the owner of its folder, or too many links)";
    case ENOTSUP:
        return "not a regular file";
    case EISDIR:
        return "a folder";
    default:
        return strerror(err);
    }
}
