/*
 * The XPath delta (-m): which leaves were modified, removed or added
 * between a source file and a new file.
 *
 * Two walks: the source file is streamed against the loaded new file,
 * giving "MOD=" and "DEL=" lines; then the new file is streamed against the
 * loaded source file, giving "ADD=" lines.  Each line carries the leaf's
 * XPath as the walk built it.
 */
#include "delta.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/parser.h>

#include "../cli/console.h"
#include "../cli/input_doc.h"
#include "../walk/keys.h"
#include "../walk/reader.h"
#include "../walk/walk.h"
#include "../xmldata/xmldata_input.h"
#include "../xmldata/xmldata_target.h"

#include "../common/banned.h"

FILE *delta_fp = NULL;
int delta_found = 0;
int delta_add_pass = 0;
xmlChar *delta_old_value = NULL;

/* The delta file's folder, held for the run, and the temporary file in it
 * that delta_fp writes until it is renamed over the delta file. */
static XmldataTarget delta_target = {-1, 0, {0}, NULL, 0, {}, EBADF, 0, 0};
static char delta_tmp[XMLDATA_TARGET_PATH_MAX];

void clear_xpath_maps(void)
{
    mapXpath.clear();
    mapNXpath.clear();
}

/* The name of the element that xpath's last step selects. */
static void last_step_name(const char *xpath, char *name, size_t size)
{
    char parent[XPATH_BUF_SIZE];
    const char *step;

    snprintf(parent, sizeof(parent), "%s", xpath);
    remove_last_step(parent);
    step = xpath + strlen(parent);
    if (*step == '/')
        step++;
    snprintf(name, size, "%.*s", (int)strcspn(step, "["), step);
}

int save_xpath_to_file(const char *xpath, int kind)
{
    char name[XPATH_BUF_SIZE];
    int written = 0;
    int err;

    if (!xpath) {
        console_log(1, "%s: No XPATH specified\n", __func__);
        return 1;
    }
    if (!delta_fp)
        return 0;
    /* Update scripts read the file line by line, and XPath has no escape
     * for a line break: a value holding one (&#10; in an attribute) would
     * start a record of its own. */
    if (!(delta_add_pass && kind == DELTA_KIND_CHANGED) && strpbrk(xpath, "\r\n")) {
        last_step_name(xpath, name, sizeof(name));
        console_log(0, "%s: ###Error the XPath of element %s holds a line break and cannot be listed\n", __func__,
                    name);
        return 1;
    }
    /* Also a record that writes no line keeps the delta file. */
    delta_found = 1;
    if (!delta_add_pass && kind == DELTA_KIND_CHANGED) {
        written = fprintf(delta_fp, "MOD=%s\n", xpath);
        console_log(0, "%s: MOD=%s\n", __func__, xpath);
    } else if (delta_add_pass && kind == DELTA_KIND_MISSING) {
        written = fprintf(delta_fp, "ADD=%s\n", xpath);
        console_log(0, "%s: ADD=%s\n", __func__, xpath);
    } else if (!delta_add_pass && kind == DELTA_KIND_MISSING) {
        written = fprintf(delta_fp, "DEL=%s\n", xpath);
        console_log(0, "%s: DEL=%s\n", __func__, xpath);
    }
    /* A change seen again from the new file was written in the first walk. */
    if (written < 0) {
        err = errno;
        console_log(0, "%s: ###Error writing the delta file failed: %s\n", __func__, strerror(err));
        return 1;
    }
    return 0;
}

int open_delta_file(const char *name)
{
    struct stat st;
    int fd;

    xmldata_target_release(&delta_target);
    if (!name)
        return -1;
    /* Refused before anything is made: a device, a FIFO or a symlink is
     * never written, replaced or removed. */
    if (lstat(name, &st) == 0 && !S_ISREG(st.st_mode))
        return -2;
    if (xmldata_target_hold(&delta_target, name) != 0) {
        int refused = delta_target.refusal != 0;

        xmldata_target_release(&delta_target);
        return refused ? -2 : -1;
    }
    /* Judge what was held: the name may have become a link since. */
    if (strcmp(delta_target.path, name) != 0) {
        xmldata_target_release(&delta_target);
        return -2;
    }
    /* The lines go to a new file beside it, renamed over it at the end. */
    xmldata_target_clear_leftovers(&delta_target);
    fd = xmldata_target_create(&delta_target, delta_tmp, sizeof(delta_tmp));
    if (fd < 0) {
        xmldata_target_release(&delta_target);
        return -1;
    }
    delta_fp = fdopen(fd, "w");
    if (!delta_fp) {
        xmldata_target_discard(&delta_target, fd, delta_tmp);
        xmldata_target_release(&delta_target);
        return -1;
    }
    return 0;
}

int close_delta_file(int keep)
{
    int replaced = 0;
    int failed;
    int err;

    if (!delta_fp)
        return 0;
    failed = fflush(delta_fp) != 0 || ferror(delta_fp);
    err = errno;
    if (!failed && keep && xmldata_target_commit(&delta_target, fileno(delta_fp), delta_tmp, &replaced) != 0) {
        failed = 1;
        err = errno;
    }
    fclose(delta_fp);
    delta_fp = NULL;
    /* Not renamed: the delta file is as it was before the run. */
    if (!replaced)
        xmldata_target_discard(&delta_target, -1, delta_tmp);
    delta_tmp[0] = '\0';
    if (failed) {
        console_log(0, "%s: ###Error writing the delta file failed: %s\n", __func__, strerror(err));
        return -1;
    }
    return 0;
}

int remove_delta_file(const char *name)
{
    int rc = xmldata_target_remove(&delta_target);

    if (rc > 0) {
        console_log(0, "%s: ###Error %s is no longer the file this run wrote, left in place\n", __func__, name);
        return -1;
    }
    if (rc < 0) {
        console_log(0, "%s: ###Error cannot remove %s: %s\n", __func__, name, strerror(errno));
        return -1;
    }
    return 0;
}

static int record(const char *xpath, int kind)
{
    if (save_xpath_to_file(xpath, kind) != 0) {
        console_log(0, "%s: ###Error save_xpath_to_file() failed\n", "check_delta");
        return 1;
    }
    return 0;
}

int check_delta(XmlState *nDoc, char *Xpath, char *nXpath, xmlTextReaderPtr reader)
{
    char pri[XPATH_BUF_SIZE];
    char look[LOOKUP_BUF_SIZE];
    const char *found = lookup_path(Xpath, look);
    char *copy = NULL;
    int len = Xpath ? static_cast<int>(strlen(Xpath)) : 0;
    int result = 0;
    int changed;
    int rc;

    (void)nXpath;
    /* Also an XPath the library cannot evaluate counts as not found. */
    if (xml_is_nodeset_exists(nDoc, found) != 0) {
        console_log(2, "%s: Tag not found: xpath=%s (len=%d)\n", __func__, show_str(Xpath), len);
        return record(Xpath, DELTA_KIND_MISSING);
    }
    if (xml_get_prop(nDoc, found, "PRI", pri, sizeof(pri)) == 0 && pri[0] == '1') {
        console_log(1, "%s:++++PRI Attr set(Force update) xpath=%s\n", __func__, Xpath);
        return record(Xpath, DELTA_KIND_CHANGED);
    }

    delta_old_value = walk_leaf_value(reader);
    rc = walk_copy_value(nDoc, found, &copy);
    if (rc == 0 && copy[0] == '\0') {
        console_log(2, "%s:++++Found Empty tag in N, set rc = -1\n", __func__);
        rc = -1;
    }
    /* An empty element and an empty text are the same empty value. */
    if (delta_old_value)
        changed = rc != 0 || strcmp(reinterpret_cast<const char *>(delta_old_value), copy) != 0;
    else
        changed = rc == 0;

    if (changed) {
        console_log(2, "%s: Change detected - xpath=%s (len=%d) value:%s (old:%s)\n", __func__, Xpath, len,
                    show_str(copy), show_str(reinterpret_cast<const char *>(delta_old_value)));
        result = record(Xpath, DELTA_KIND_CHANGED);
    } else {
        console_log(2, "%s: No Change - xpath=%s (len=%d) value:%s (old:%s)\n", __func__, Xpath, len,
                    show_str(copy), show_str(reinterpret_cast<const char *>(delta_old_value)));
    }
    xmlFree(delta_old_value);
    delta_old_value = NULL;
    free(copy);
    return result;
}

/* Compares one attribute of the walked root with the loaded root's: a
 * record when the loaded root lacks it or has another value.  0, or 1 when
 * making the record failed. */
static int check_root_attribute(xmlNodePtr walked, xmlNodePtr loaded, const char *name, const char *path)
{
    xmlChar *walked_value = attribute_value(walked, name);
    xmlChar *loaded_value = attribute_value(loaded, name);
    int len = static_cast<int>(strlen(path));
    int kind = -1;
    int result = 0;

    if (!loaded_value) {
        console_log(2, "%s: Tag not found: xpath=%s (len=%d)\n", __func__, path, len);
        kind = DELTA_KIND_MISSING;
    } else if (xmlStrcmp(walked_value, loaded_value) != 0) {
        console_log(2, "%s: Change detected - xpath=%s (len=%d) value:%s (old:%s)\n", __func__, path, len,
                    reinterpret_cast<const char *>(loaded_value), reinterpret_cast<const char *>(walked_value));
        kind = DELTA_KIND_CHANGED;
    } else {
        console_log(2, "%s: No Change - xpath=%s (len=%d) value:%s (old:%s)\n", __func__, path, len,
                    reinterpret_cast<const char *>(loaded_value), reinterpret_cast<const char *>(walked_value));
    }
    if (kind >= 0 && save_xpath_to_file(path, kind) != 0) {
        console_log(0, "%s: ###Error save_xpath_to_file() failed\n", __func__);
        result = 1;
    }
    xmlFree(walked_value);
    xmlFree(loaded_value);
    return result;
}

/* Compares the attributes of the walked element with the loaded one's,
 * the key attributes of list aside: 0, or 1 when a record failed. */
static int delta_element_attributes(xmlNodePtr walked, xmlNodePtr loaded, const char *Xpath, const KeyList *list)
{
    char name[XPATH_BUF_SIZE];
    char after[XPATH_BUF_SIZE];
    char path[XPATH_BUF_SIZE];

    if (!walked || !loaded)
        return 0;
    name[0] = '\0';
    for (;;) {
        int n;

        memcpy(after, name, strlen(name) + 1);
        name[0] = '\0';
        attribute_name_after(walked, 1, after, name, sizeof(name));
        if (name[0] == '\0')
            return 0;
        if (keys_is_key_attribute(list, name))
            continue;
        n = snprintf(path, sizeof(path), "%s/@%s", Xpath, name);
        if (n < 0 || (size_t)n >= sizeof(path)) {
            console_log(0, "%s: ###Error the path of attribute %s does not fit after %s\n",
                        /* named by the caller, which reads the element */
                        list ? "delta_entry" : "delta_root_attributes",
                        name, Xpath);
            return 1;
        }
        if (check_root_attribute(walked, loaded, name, path) != 0)
            return 1;
    }
}

int delta_root_attributes(XmlState *nDoc, const char *Xpath, xmlTextReaderPtr reader)
{
    /* The root of the other file, when it has the walked root's name. */
    return delta_element_attributes(xmlTextReaderCurrentNode(reader), first_selected(nDoc, Xpath), Xpath, NULL);
}

/* An entry of a declared list: its attributes other than the key are
 * settings, compared as the root's are, when the other file has it. */
static int delta_entry(XmlState *nDoc, XmlState *oDoc, char *Xpath, xmlTextReaderPtr reader, const KeyList *list)
{
    char look[LOOKUP_BUF_SIZE];

    (void)oDoc;
    if (delta_element_attributes(xmlTextReaderCurrentNode(reader), first_selected(nDoc, lookup_path(Xpath, look)),
                                 Xpath, list) != 0)
        return WALK_FAIL;
    return WALK_ENTER;
}

/* The walk's callbacks take both documents; the delta has only the loaded one. */
static int delta_leaf(XmlState *nDoc, XmlState *oDoc, char *Xpath, char *nXpath, xmlTextReaderPtr reader)
{
    (void)oDoc;
    return check_delta(nDoc, Xpath, nXpath, reader);
}

static int delta_root(XmlState *nDoc, XmlState *oDoc, const char *Xpath, xmlTextReaderPtr reader)
{
    (void)oDoc;
    return delta_root_attributes(nDoc, Xpath, reader);
}

/* The delta's callback for an empty element is known by the name below. */
const WalkCallbacks delta_walk_callbacks = {
    delta_leaf, delta_root, NULL, "handle_empty_tag_in_src_file()", delta_entry, NULL,
};

/* The walk of walked_file against loaded_file, whose document is held
 * when it was loaded already (and stays the caller's). */
static int read_through(const char *walked_file, const char *loaded_file, XmlState *held)
{
    char Xpath[XPATH_BUF_SIZE];
    char nXpath[XPATH_BUF_SIZE];
    XmlState *handle = held;
    int fault;
    int result;

    memset(Xpath, 0, sizeof(Xpath));
    memset(nXpath, 0, sizeof(nXpath));
    if (!handle) {
        xml_lib_setup();
        handle = xml_init();
        if (!handle) {
            console_log(0, "%s: ###Error failed to create xml state\n", "xml_read_through_src_file");
            return 1;
        }
        fault = xmldata_load_input(handle, loaded_file);
        if (fault == 0)
            fault = expand_for_walk(handle);
        if (fault != 0) {
            report_input_fault("xml_read_through_src_file", loaded_file, fault);
            console_log(0, "%s: ###Error failed to load dest xml file\n", "xml_read_through_src_file");
            xml_fini(handle);
            return 1;
        }
    }
    result = streamFile(walked_file, 0, Xpath, nXpath, handle, NULL, &delta_walk_callbacks);
    if (!held) {
        xml_fini(handle);
        xmlCleanupParser();
    }
    return result;
}

int xml_read_through_src_file(const char *walked_file, const char *loaded_file)
{
    return read_through(walked_file, loaded_file, NULL);
}

/* Loads file as the walk would and checks its declared lists: 0, or 1.
 * With held, the loaded file is kept in *held for the walk that would
 * load it again. */
static int check_lists_of(const char *file, XmlState **held)
{
    XmlState *handle;
    int fault;
    int result;

    if (held)
        *held = NULL;
    if (!walk_lists())
        return 0;
    xml_lib_setup();
    handle = xml_init();
    if (!handle) {
        console_log(0, "%s: ###Error failed to create xml state\n", __func__);
        return 1;
    }
    fault = xmldata_load_input(handle, file);
    if (fault == 0)
        fault = expand_for_walk(handle);
    if (fault != 0) {
        /* The walks say why, as they do without declared lists. */
        xml_fini(handle);
        return 0;
    }
    result = walk_check_lists(handle, file);
    if (result == 0 && held)
        *held = handle;
    else
        xml_fini(handle);
    return result;
}

void reset_delta_state(void)
{
    close_delta_file(0);
    xmldata_target_release(&delta_target);
    delta_found = 0;
    delta_add_pass = 0;
    xmlFree(delta_old_value);
    delta_old_value = NULL;
}

/* Frees the document the check of the lists kept, if any. */
static void release_held(XmlState *held)
{
    if (held) {
        xml_fini(held);
        xmlCleanupParser();
    }
}

int xml_create_xpath_delta(const char *src_file, const char *new_file, const char *delta_file)
{
    XmlState *held_new = NULL;
    int result;
    int rc;

    console_log(1, "%s: Started\n", __func__);
    /* Each run starts afresh, also the second of one process. */
    reset_walk_state();
    reset_delta_state();
    delta_mode = 1;

    /* Entries that cannot be matched by their key are refused before the
     * delta file is made. */
    /* The source is walked first, against the new file: the new file's
     * document is kept for that walk, so that no more than one document is
     * held at a time. */
    if (check_lists_of(src_file, NULL) != 0 || check_lists_of(new_file, &held_new) != 0)
        return 1;
    rc = open_delta_file(delta_file);
    if (rc == -2) {
        console_log(0, "%s: ###Error not a regular file, refused:%s\n", __func__, delta_file);
        release_held(held_new);
        return 1;
    }
    if (rc != 0) {
        console_log(0, "%s: ###Error cannot create file:%s\n", __func__, show_str(delta_file));
        release_held(held_new);
        return 1;
    }

    /* First walk: the source file against the new one. */
    result = read_through(src_file, new_file, held_new);
    if (result != 0) {
        result = 1;
        console_log(0, "%s: ###Error xml_read_through_src_file() failed\n", __func__);
    } else {
        /* Second walk: the new file against the source, numbering anew. */
        console_log(1, "\n%s: Checking XML Tags that where Added:\n", __func__);
        console_log(1, "-----------------------------------------\n");
        delta_add_pass = 1;
        clear_xpath_maps();
        release_held(held_new);
        held_new = NULL;
        result = read_through(new_file, src_file, NULL);
    }
    release_held(held_new);

    /* Only a run that went through replaces the delta file, and only one
     * that found a delta; a failed run leaves the earlier file. */
    if (close_delta_file(result == 0 && delta_found) != 0)
        result = 1;
    if (!delta_found) {
        console_log(0, "%s: ###No delta found\n", __func__);
        if (result == 0 && remove_delta_file(delta_file) != 0)
            result = 1;
    }
    xmldata_target_release(&delta_target);
    return result;
}
