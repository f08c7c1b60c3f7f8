/*
 * Document store: saving a document to a file.
 *
 * The document is written to a new file beside the target and renamed over
 * it, so that the target holds either its old content or the whole new
 * document, never a part of it, whether the run is killed, the disk fills
 * up or the device loses power.  The new file takes the old one's owner and
 * mode; as root, an owner that cannot be given back fails the save.
 *
 * The save runs as root in a folder that others may be able to write, so it
 * resolves the target's folder once, keeps it open, and does every step
 * relative to it: a folder on the path swapped for a link afterwards
 * changes nothing.  It touches no name it has not just created: the
 * temporary file is written, given its owner and mode and flushed through
 * the one descriptor that created it, and renamed only while its name still
 * refers to that file.  A symbolic link as the target is followed only
 * where the kernel's protected-symlinks rule would follow it and, as root,
 * only to a file owned by the owner of the link's folder; only regular
 * files are replaced.  Nothing is ever written in place.
 *
 * Temporary files are named ".NAME.xmlcfg-XXXXXX" beside the target NAME;
 * a run that was killed leaves one behind, and the next save of NAME
 * removes it.
 */
#include "xmldata.h"
#include "xmldata_log.h"
#include "xmldata_save_hook.h"
#include "xmldata_target.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
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

#define SAVE_PATH_MAX XMLDATA_TARGET_PATH_MAX
#define SAVE_MAX_LINKS 40  /* as many as the kernel follows */
#define SAVE_ATTEMPTS 3    /* temporary files taken over before giving up */
#define TMP_INFIX ".xmlcfg-"
#define TMP_RANDOM 6       /* random letters and digits at the end */
#define TMP_NAME_TRIES 100 /* names already taken before giving up */

/* Which refusal of the hold the save reports. */
enum {
    REFUSED_NONE,
    REFUSED_LINK_OWNER,   /* a link owned by neither root, the caller nor its folder's owner */
    REFUSED_ROOT_TARGET,  /* as root, a link to a file its folder's owner does not own */
    REFUSED_NOT_REGULAR
};

/* The shown path and the name in the folder; the folder is not opened. */
static int set_path(XmldataTarget *t, const char *path)
{
    const char *slash = strrchr(path, '/');
    int n = snprintf(t->path, sizeof(t->path), "%s", path);

    if (n < 0 || (size_t)n >= sizeof(t->path)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    t->base = slash ? t->path + (slash - path) + 1 : t->path;
    if (t->base[0] == '\0') {
        errno = path[0] ? EISDIR : ENOENT;
        return -1;
    }
    return 0;
}

/*
 * Opens a folder, relative to at, to hold it.  One that may be searched but
 * not read is held all the same; only flushing it will fail, as it would
 * have when opened by name.
 */
static int open_folder(XmldataTarget *t, int at, const char *name)
{
    int fd = openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);

    t->dir_err = 0;
    if (fd < 0 && errno == EACCES) {
        fd = openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC);
        t->dir_err = EACCES;
    }
    return fd;
}

/* The owner of the held folder, or -1. */
static long folder_owner(const XmldataTarget *t)
{
    struct stat st;

    return fstat(t->dir, &st) == 0 ? (long)st.st_uid : -1;
}

/*
 * The kernel's protected-symlinks rule: a link is followed when its owner
 * is root, the one following it, or the owner of the folder it sits in.
 * Anybody else who could write the folder could aim it anywhere.
 */
static int may_follow(const XmldataTarget *t)
{
    if (t->st.st_uid == 0 || t->st.st_uid == geteuid())
        return 1;
    return folder_owner(t) == (long)t->st.st_uid;
}

/* Moves the target to what the link at it names: the folder the link
 * names, relative to the link's own folder, is held instead. */
static int follow_link(XmldataTarget *t)
{
    char link[SAVE_PATH_MAX];
    char next[SAVE_PATH_MAX];
    char *slash;
    ssize_t len = readlinkat(t->dir, t->base, link, sizeof(link));
    int n;
    int dir;

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
        n = snprintf(next, sizeof(next), "%.*s%s", (int)(t->base - t->path), t->path, link);
    if (n < 0 || (size_t)n >= sizeof(next)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    if (set_path(t, next) != 0)
        return -1;
    slash = strrchr(link, '/');
    if (!slash)
        return 0;
    if (slash == link)
        slash[1] = '\0';
    else
        *slash = '\0';
    dir = open_folder(t, link[0] == '/' ? AT_FDCWD : t->dir, link);
    if (dir < 0)
        return -1;
    close(t->dir);
    t->dir = dir;
    return 0;
}

static int resolve(XmldataTarget *t, const char *filename)
{
    long owner;
    int followed = 0;

    if (!filename) {
        errno = EINVAL;
        return -1;
    }
    if (set_path(t, filename) != 0)
        return -1;
    if (t->base == t->path) {
        t->dir = open_folder(t, AT_FDCWD, ".");
    } else {
        char dir[SAVE_PATH_MAX];
        int dir_len = t->base - 1 == t->path ? 1 : (int)(t->base - 1 - t->path);

        snprintf(dir, sizeof(dir), "%.*s", dir_len, t->path);
        t->dir = open_folder(t, AT_FDCWD, dir);
    }
    if (t->dir < 0)
        return -1;
    owner = folder_owner(t);
    for (int links = 0;; links++) {
        if (fstatat(t->dir, t->base, &t->st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                return -1;
            t->exists = 0;
            break;
        }
        t->exists = 1;
        if (!S_ISLNK(t->st.st_mode))
            break;
        if (links == SAVE_MAX_LINKS) {
            errno = ELOOP;
            return -1;
        }
        if (!may_follow(t)) {
            t->refusal = REFUSED_LINK_OWNER;
            errno = ELOOP;
            return -1;
        }
        if (follow_link(t) != 0)
            return -1;
        followed = 1;
    }
    if (t->exists && !S_ISREG(t->st.st_mode)) {
        t->refusal = REFUSED_NOT_REGULAR;
        errno = S_ISDIR(t->st.st_mode) ? EISDIR : ENOTSUP;
        return -1;
    }
    /* Root may write anywhere: a link put into a user's folder is followed
     * only to what that user could have written anyway, a file of theirs
     * or, where none exists yet, a folder of theirs. */
    if (followed && geteuid() == 0 && (t->exists ? (long)t->st.st_uid : folder_owner(t)) != owner) {
        t->refusal = REFUSED_ROOT_TARGET;
        errno = EXDEV;
        return -1;
    }
    return 0;
}

extern "C" int xmldata_target_hold(XmldataTarget *t, const char *filename)
{
    memset(t, 0, sizeof(*t));
    t->dir = -1;
    if (resolve(t, filename) == 0) {
        SAVE_STEP(XMLDATA_SAVE_HELD, t->path);
        return 0;
    }
    t->err = errno;
    if (t->dir >= 0)
        close(t->dir);
    t->dir = -1;
    errno = t->err;
    return -1;
}

extern "C" void xmldata_target_release(XmldataTarget *t)
{
    if (t->dir >= 0)
        close(t->dir);
    t->dir = -1;
}

/* Writes the record of a refused hold; filename is the name asked for. */
static void record_refusal(const XmldataTarget *t, const char *filename)
{
    switch (t->refusal) {
    case REFUSED_LINK_OWNER:
        XMLDATA_RECORD("[%s]:[%s] - Refusing to follow %s: the link is owned by neither root nor the owner of its folder",
                       t->path);
        break;
    case REFUSED_ROOT_TARGET:
        XMLDATA_RECORD("[%s]:[%s] - Refusing to follow %s as root: %s is not owned by the owner of the link's folder",
                       xmldata_str(filename), t->path);
        break;
    case REFUSED_NOT_REGULAR:
        XMLDATA_RECORD("[%s]:[%s] - Refusing to replace %s: not a regular file", t->path);
        break;
    default:
        break;
    }
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
    /* The library reports a fault of the serialisation without failing
     * it; what it reported is no document to rename over the target. */
    xmlResetLastError();
    if (xmlSaveFormatFileTo(buf, doc, encoding, 0) < 0) {
        errno = sink.err != 0 ? sink.err : EIO;
        return -1;
    }
    if (xmlGetLastError()) {
        errno = EIO;
        return -1;
    }
    return 0;
}

static int set_owner_and_mode(int fd, const XmldataTarget *t)
{
    mode_t mode;

    if (t->mode)
        return fchmod(fd, t->mode);
    if (t->exists) {
        /* Only root may give a file away; for anybody else keeping the
         * owner is best effort.  Root failing to (an owner unknown to the
         * file system) would leave the file to root: no save then. */
        if (fchown(fd, t->st.st_uid, t->st.st_gid) != 0 && geteuid() == 0)
            return -1;
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

/* TMP_RANDOM letters and digits, from the kernel's random source or, where
 * that fails, from the clock and the process. */
static void random_suffix(char *out)
{
    static const char chars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static unsigned long counter;
    unsigned char bytes[TMP_RANDOM];

    if (getrandom(bytes, sizeof(bytes), GRND_NONBLOCK) != (ssize_t)sizeof(bytes)) {
        struct timespec ts;
        unsigned long seed;

        clock_gettime(CLOCK_REALTIME, &ts);
        seed = (unsigned long)ts.tv_nsec ^ ((unsigned long)getpid() << 16) ^ (++counter * 2654435761UL);
        for (int i = 0; i < TMP_RANDOM; i++) {
            seed = seed * 1103515245UL + 12345UL;
            bytes[i] = (unsigned char)(seed >> 16);
        }
    }
    for (int i = 0; i < TMP_RANDOM; i++)
        out[i] = chars[bytes[i] % (sizeof(chars) - 1)];
    out[TMP_RANDOM] = '\0';
}

extern "C" int xmldata_target_create(XmldataTarget *t, char *tmp, size_t tmp_size)
{
    char suffix[TMP_RANDOM + 1];

    if (t->dir < 0) {
        errno = t->err ? t->err : EBADF;
        return -1;
    }
    for (int i = 0; i < TMP_NAME_TRIES; i++) {
        int n;
        int fd;

        random_suffix(suffix);
        n = snprintf(tmp, tmp_size, ".%s" TMP_INFIX "%s", t->base, suffix);
        if (n < 0 || (size_t)n >= tmp_size) {
            errno = ENAMETOOLONG;
            return -1;
        }
        fd = openat(t->dir, tmp, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

/* The temporary file's path as the hook and the records show it. */
static void shown_temp(const XmldataTarget *t, const char *tmp, char *shown, size_t size)
{
    int n = snprintf(shown, size, "%.*s%s", (int)(t->base - t->path), t->path, tmp);

    /* Shown only: a path too long to show is shown cut. */
    if (n < 0 || (size_t)n >= size)
        shown[size - 1] = '\0';
}

/*
 * Gives the written temporary file its owner and mode, flushes it and
 * renames it over the target.  When another process took over the
 * temporary name, fails with EAGAIN: the caller may try again under a new
 * name.  *renamed becomes 1 once the target is this file.
 */
static int finish_temp(XmldataTarget *t, int fd, const char *tmp, int *renamed)
{
    char shown[SAVE_PATH_MAX];
    struct stat mine;
    struct stat named;

    shown_temp(t, tmp, shown, sizeof(shown));
    if (set_owner_and_mode(fd, t) != 0)
        return -1;
    SAVE_STEP(XMLDATA_SAVE_OWNED, shown);
    if (fsync(fd) != 0 || fstat(fd, &mine) != 0)
        return -1;
    SAVE_STEP(XMLDATA_SAVE_SYNCED, shown);
    if (fstatat(t->dir, tmp, &named, AT_SYMLINK_NOFOLLOW) != 0 || !same_file(&named, &mine)) {
        XMLDATA_RECORD("[%s]:[%s] - Temporary file %s was replaced during the save", shown);
        errno = EAGAIN;
        return -1;
    }
    if (renameat(t->dir, tmp, t->dir, t->base) != 0)
        return -1;
    /* Another file put under the temporary name between the check and the
     * rename took the target's place; the next try replaces it again. */
    if (fstatat(t->dir, t->base, &named, AT_SYMLINK_NOFOLLOW) != 0 || !same_file(&named, &mine)) {
        XMLDATA_RECORD("[%s]:[%s] - Temporary file %s was replaced during the save", shown);
        errno = EAGAIN;
        return -2;
    }
    *renamed = 1;
    return 0;
}

/* The rename is on disk only once the folder is. */
static int sync_folder(const XmldataTarget *t)
{
    if (t->dir_err) {
        errno = t->dir_err;
        return -1;
    }
    return fsync(t->dir);
}

extern "C" int xmldata_target_commit(XmldataTarget *t, int fd, const char *tmp, int *replaced)
{
    int renamed = 0;
    int rc = finish_temp(t, fd, tmp, &renamed);

    if (replaced)
        *replaced = renamed;
    if (rc == -1) {
        int err = errno;

        unlinkat(t->dir, tmp, 0);
        errno = err;
    }
    return rc == 0 ? sync_folder(t) : -1;
}

extern "C" void xmldata_target_discard(XmldataTarget *t, int fd, const char *tmp)
{
    int err = errno;

    if (fd >= 0)
        close(fd);
    if (t->dir >= 0 && tmp[0] != '\0')
        unlinkat(t->dir, tmp, 0);
    errno = err;
}

extern "C" int xmldata_target_remove(XmldataTarget *t)
{
    struct stat now;

    if (t->dir < 0) {
        errno = t->err ? t->err : EBADF;
        return -1;
    }
    if (fstatat(t->dir, t->base, &now, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? 0 : -1;
    if (!t->exists || !same_file(&now, &t->st) || !S_ISREG(now.st_mode))
        return 1;
    return unlinkat(t->dir, t->base, 0);
}

/* One try at writing the new file and renaming it over the target. */
static int replace_once(xmlDocPtr doc, XmldataTarget *t, int *renamed)
{
    char tmp[SAVE_PATH_MAX];
    char shown[SAVE_PATH_MAX];
    int rc = -1;
    int err;
    int fd = xmldata_target_create(t, tmp, sizeof(tmp));

    if (fd < 0)
        return -1;
    shown_temp(t, tmp, shown, sizeof(shown));
    SAVE_STEP(XMLDATA_SAVE_CREATED, shown);
    if (write_document(doc, fd) != 0)
        goto out;
    SAVE_STEP(XMLDATA_SAVE_WRITTEN, shown);
    rc = finish_temp(t, fd, tmp, renamed);
out:
    err = errno;
    close(fd);
    /* After a rename the name is no longer this save's to remove. */
    if (rc == -1)
        unlinkat(t->dir, tmp, 0);
    errno = err;
    return rc == 0 ? 0 : -1;
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
extern "C" void xmldata_target_clear_leftovers(const XmldataTarget *t)
{
    char prefix[SAVE_PATH_MAX];
    int n = snprintf(prefix, sizeof(prefix), ".%s" TMP_INFIX, t->base);
    int fd;
    DIR *dir;
    struct dirent *e;
    struct stat st;

    if (n < 0 || (size_t)n >= sizeof(prefix))
        return;
    fd = openat(t->dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return;
    }
    while ((e = readdir(dir)) != NULL) {
        if (is_leftover(e->d_name, prefix, (size_t)n) &&
            fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            unlinkat(dirfd(dir), e->d_name, 0) != 0) {
            /* Left for a later run. */
        }
    }
    closedir(dir);
}

static int save_into(xmlDocPtr doc, XmldataTarget *t, const char *filename, int *renamed)
{
    const char *encoding = reinterpret_cast<const char *>(doc->encoding);
    int rc = -1;

    if (encoding && !encoding_reads_back(encoding)) {
        XMLDATA_RECORD("[%s]:[%s] - Refusing to save in encoding %s: it cannot be read back", encoding);
        errno = EILSEQ;
        return -1;
    }
    if (t->dir < 0) {
        record_refusal(t, filename);
        errno = t->err ? t->err : EBADF;
        return -1;
    }
    xmldata_target_clear_leftovers(t);
    for (int attempt = 0; attempt < SAVE_ATTEMPTS; attempt++) {
        rc = replace_once(doc, t, renamed);
        if (rc == 0 || errno != EAGAIN)
            break;
    }
    if (rc == 0)
        rc = sync_folder(t);
    return rc;
}

extern "C" int xmldata_save_held(XmlState *state, XmldataTarget *t, const char *filename, int *replaced)
{
    int renamed = 0;
    int err = EINVAL;

    if (filename && state && state->pDoc) {
        int rc = save_into(state->pDoc, t, filename, &renamed);

        if (replaced)
            *replaced = renamed;
        if (rc == 0)
            return 0;
        err = errno;
    } else if (replaced) {
        *replaced = 0;
    }
    XMLDATA_RECORD("[%s]:[%s] - Unable to save to %s", xmldata_str(filename));
    errno = err;
    return -1;
}

extern "C" int xml_save_document(XmlState *state, const char *filename)
{
    XmldataTarget t;
    int rc;
    int err;

    /* Nothing to save: the target is not looked at. */
    if (filename && state && state->pDoc)
        xmldata_target_hold(&t, filename);
    else
        xmldata_target_hold(&t, NULL);
    rc = xmldata_save_held(state, &t, filename, NULL);
    err = errno;
    xmldata_target_release(&t);
    errno = err;
    return rc;
}

extern "C" const char *xml_save_error_text(int err)
{
    switch (err) {
    case EILSEQ:
        return "its encoding could not be read back";
    case ELOOP:
        return "a symbolic link that is not followed (owned by neither root nor the owner of its folder, or too many links)";
    case EXDEV:
        return "a symbolic link that root does not follow (to a file not owned by the owner of the link's folder)";
    case ENOTSUP:
        return "not a regular file";
    case EISDIR:
        return "a folder";
    default:
        return strerror(err);
    }
}
