/*
 * Store-internal: a file that a run replaces, held from the start of the
 * run until it is replaced.  Not installed with the public header.
 *
 * Holding resolves the file's folder once, follows a symbolic link at the
 * name as the save's rules allow, and keeps the folder open: every later
 * step (the temporary file, its owner and mode, the rename, the flush of
 * the folder) works relative to that folder, so that a folder on the path
 * swapped for a link after the hold changes nothing.  A hold that fails
 * keeps its reason, and the save reports it; holding itself writes no
 * record, so that a run that fails before its save reports what it did
 * before.
 */
#ifndef XMLDATA_TARGET_H
#define XMLDATA_TARGET_H

#include <stddef.h>
#include <sys/stat.h>

#include "xmldata.h"

#ifdef __cplusplus
extern "C" {
#endif

#define XMLDATA_TARGET_PATH_MAX 4096

typedef struct XmldataTarget {
    int dir;            /* the held folder, or -1 */
    int dir_err;        /* errno that flushing the folder will give (0: none) */
    char path[XMLDATA_TARGET_PATH_MAX];  /* the file, as reached, for records */
    const char *base;   /* its name in the folder, inside path */
    int exists;
    struct stat st;     /* what the file was when held, when it exists */
    int err;            /* errno of a failed hold, 0 when held */
    int refusal;        /* which refusal record the save writes */
    mode_t mode;        /* set after the hold: the mode the file gets, owned
                           by the run's user; 0: the file's own (or a new
                           file's default) and owner */
} XmldataTarget;

/* Holds filename's folder: 0, or -1 with errno (also kept in t->err).
 * Release the target with xmldata_target_release in either case. */
int xmldata_target_hold(XmldataTarget *t, const char *filename);
void xmldata_target_release(XmldataTarget *t);

/*
 * xml_save_document into a held target; filename is named in the records.
 * *replaced (may be NULL) becomes 1 once the file holds the document, also
 * when only the final flush of its folder failed and the result is -1.
 */
int xmldata_save_held(XmlState *state, XmldataTarget *t, const char *filename, int *replaced);

/*
 * For a file written by the caller: a new temporary file in the held
 * folder, open for writing (its descriptor, or -1 with errno; the name
 * goes to tmp).  xmldata_target_commit gives it the target's owner and
 * mode, flushes it and renames it over the target (0, or -1 with errno,
 * with *replaced as above); the caller closes fd afterwards.
 * xmldata_target_discard closes fd and removes the temporary file.
 */
int xmldata_target_create(XmldataTarget *t, char *tmp, size_t tmp_size);
/* Removes the temporary files of earlier runs that were killed. */
void xmldata_target_clear_leftovers(const XmldataTarget *t);
int xmldata_target_commit(XmldataTarget *t, int fd, const char *tmp, int *replaced);
void xmldata_target_discard(XmldataTarget *t, int fd, const char *tmp);

/*
 * Removes the target, only while its name is the file that was there when
 * it was held: 0 when removed or when there was none and still is none; 1
 * when the name is now another file (left alone); -1 with errno.
 */
int xmldata_target_remove(XmldataTarget *t);

#ifdef __cplusplus
}
#endif

#endif
