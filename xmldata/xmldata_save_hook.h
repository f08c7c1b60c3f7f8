/*
 * A hook between the steps of the save, compiled in only where
 * XMLDATA_SAVE_HOOK is defined (a test build of the store).  It is called
 * with the step just done and the temporary file's name (the target's, once
 * its folder is held), so that a test can do there what another process
 * could do at that moment.
 */
#ifndef XMLDATA_SAVE_HOOK_H
#define XMLDATA_SAVE_HOOK_H

enum {
    XMLDATA_SAVE_CREATED = 1,   /* the temporary file exists, still empty */
    XMLDATA_SAVE_WRITTEN,       /* the document is in it */
    XMLDATA_SAVE_OWNED,         /* it has D's owner and mode */
    XMLDATA_SAVE_SYNCED,        /* it is on disk; the rename comes next */
    XMLDATA_SAVE_HELD           /* the target's folder is held; nothing made yet */
};

#ifdef __cplusplus
extern "C" {
#endif

extern void (*xmldata_save_hook)(int step, const char *tmp_name);

#ifdef __cplusplus
}
#endif

#endif
