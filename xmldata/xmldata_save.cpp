/*
 * Document store: saving a document to a file.
 */
#include "xmldata.h"
#include "xmldata_log.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/parser.h>

#include "../common/banned.h"

/*
 * Writes the document to a new file beside the target and renames it over
 * the target, so that the target holds either its old content or the whole
 * new document, never a part of it, even if the device loses power.  The
 * new file takes the old one's mode and owner.  Targets that are not plain
 * files (links, devices) and targets whose directory does not allow the
 * temporary file are written in place.
 */
static int save_replacing(xmlDocPtr doc, const char *filename)
{
    char tmp[4096];
    struct stat old;
    int have_old;
    int fd;
    int rc = -1;

    have_old = (lstat(filename, &old) == 0);
    if (have_old && !S_ISREG(old.st_mode))
        return xmlSaveFile(filename, doc) == -1 ? -1 : 0;

    int n = snprintf(tmp, sizeof(tmp), "%s.XXXXXX", filename);
    if (n < 0 || (size_t)n >= sizeof(tmp))
        return xmlSaveFile(filename, doc) == -1 ? -1 : 0;
    fd = mkstemp(tmp);
    if (fd < 0)
        return xmlSaveFile(filename, doc) == -1 ? -1 : 0;
    close(fd);

    if (xmlSaveFile(tmp, doc) == -1)
        goto out;

    fd = open(tmp, O_RDONLY);
    if (fd < 0)
        goto out;
    if (have_old) {
        if (fchown(fd, old.st_uid, old.st_gid) != 0) {
            /* Keeping the owner is best effort: only root may give a file away. */
        }
        fchmod(fd, old.st_mode & 07777);
    } else {
        mode_t mask = umask(0);

        umask(mask);
        fchmod(fd, 0666 & ~mask);
    }
    if (fsync(fd) != 0) {
        close(fd);
        goto out;
    }
    close(fd);
    if (rename(tmp, filename) != 0)
        goto out;
    rc = 0;
out:
    if (rc != 0)
        unlink(tmp);
    return rc;
}

extern "C" int xml_save_document(XmlState *state, const char *filename)
{
    if (!filename || !state || !state->pDoc || save_replacing(state->pDoc, filename) != 0) {
        XMLDATA_RECORD("[%s]:[%s] - Unable to save to %s", xmldata_str(filename));
        return -1;
    }
    return 0;
}
