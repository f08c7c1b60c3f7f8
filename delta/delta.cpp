/*
 * The XPath delta (-m): which leaves were modified, removed or added
 * between a source file and a new file.
 *
 * Two walks: the source file is streamed against the loaded new file,
 * giving "MOD=" and "DEL=" lines; then the new file is streamed against the
 * loaded source file, giving "ADD=" lines.  Each line carries the leaf's
 * XPath as the walk built it.  An entry of a list matched by content is
 * one line, whole: "DEL=" with its path in the source, "ADD=" with its
 * path in the new file, as the diff of the two list instances says.
 */
#include "delta.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include <libxml/parser.h>

#include "../cli/console.h"
#include "../cli/input_doc.h"
#include "../merge/content_list.h"
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

/* The list instances matched by content that the running walk has met,
 * by their parent's path, "/" and the entries' local name: for each walked
 * entry in order, whether the diff with the other file lists it. */
struct ContentInstance {
    std::vector<char> listed;
    size_t next;
};
static std::map<std::string, ContentInstance> content_instances;

void clear_xpath_maps(void)
{
    mapXpath.clear();
    mapNXpath.clear();
    content_instances.clear();
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

/*
 * The diff of a list instance matched by content, parent its path: the
 * walked file's entries (in walked, that file loaded) against the loaded
 * file's, always the source's against the new file's, so that both walks
 * see the same diff.  Fills in->listed: 0, or 1 after an error line.
 */
static int diff_content_instance(XmlState *loaded, XmlState *walked, const char *parent, const char *local,
                                 ContentInstance *in)
{
    char look[LOOKUP_BUF_SIZE];
    std::vector<xmlNodePtr> mine;
    std::vector<xmlNodePtr> theirs;
    std::vector<char> source_kept;
    std::vector<char> new_kept;
    xmlNodePtr walked_parent = first_selected(walked, lookup_path(parent, look));

    if (!walked_parent) {
        console_log(0, "%s: ###Error the list %s/%s cannot be read whole from the walked file\n", __func__, parent, local);
        return 1;
    }
    content_entries_of(walked_parent, local, &mine);
    /* A list the other file lacks has none of its entries. */
    content_entries_of(first_selected(loaded, lookup_path(parent, look)), local, &theirs);
    if (delta_add_pass)
        content_kept(theirs, mine, &source_kept, &new_kept);
    else
        content_kept(mine, theirs, &source_kept, &new_kept);
    in->listed.assign(mine.size(), 0);
    for (size_t i = 0; i < mine.size(); i++)
        in->listed[i] = !(delta_add_pass ? new_kept[i] : source_kept[i]);
    in->next = 0;
    return 0;
}

/* An entry of a list matched by content: one line when the diff of its
 * list instance has it deleted (the first walk) or inserted (the second),
 * none when the other file keeps it; its inside is passed over. */
static int delta_content_entry(XmlState *nDoc, XmlState *walked, const char *Xpath, const KeyList *list)
{
    char parent[XPATH_BUF_SIZE];
    const char *local = strrchr(list->path, '/') + 1;
    int cut = xml_path_parent_len(Xpath);

    snprintf(parent, sizeof(parent), "%.*s", cut > 0 ? cut : 0, Xpath);
    std::string key = std::string(parent) + "/" + local;
    auto found = content_instances.find(key);
    if (found == content_instances.end()) {
        ContentInstance in;

        if (diff_content_instance(nDoc, walked, parent, local, &in) != 0)
            return WALK_FAIL;
        found = content_instances.emplace(key, in).first;
    }
    ContentInstance &in = found->second;
    if (in.next >= in.listed.size()) {
        console_log(0, "%s: ###Error the entries of list %s differ from the walked file's\n", __func__,
                    key.c_str());
        return WALK_FAIL;
    }
    if (!in.listed[in.next++]) {
        console_log(2, "%s: No Change - entry xpath=%s\n", __func__, Xpath);
        return WALK_SKIP;
    }
    if (save_xpath_to_file(Xpath, DELTA_KIND_MISSING) != 0) {
        console_log(0, "%s: ###Error save_xpath_to_file() failed\n", __func__);
        return WALK_FAIL;
    }
    return WALK_SKIP;
}

/* An entry of a declared list: its attributes other than the key are
 * settings, compared as the root's are, when the other file has it.  The
 * walked file's document is oDoc, loaded only when a list is matched by
 * content. */
static int delta_entry(XmlState *nDoc, XmlState *oDoc, char *Xpath, xmlTextReaderPtr reader, const KeyList *list)
{
    char look[LOOKUP_BUF_SIZE];

    if (list->content)
        return delta_content_entry(nDoc, oDoc, Xpath, list);
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

/* Loads file as the walk reads it: its document, or NULL.  A handle that
 * cannot be made is told by who; a file that cannot be loaded, when report
 * is set (*unloaded is set either way). */
static XmlState *load_document(const char *file, const char *who, int report, int *unloaded)
{
    XmlState *handle;
    int fault;

    *unloaded = 0;
    xml_lib_setup();
    handle = xml_init();
    if (!handle) {
        console_log(0, "%s: ###Error failed to create xml state\n", who);
        return NULL;
    }
    fault = xmldata_load_input(handle, file);
    if (fault == 0)
        fault = expand_for_walk(handle);
    if (fault != 0) {
        if (report) {
            report_input_fault(who, file, fault);
            console_log(0, "%s: ###Error failed to load dest xml file\n", who);
        }
        xml_fini(handle);
        *unloaded = 1;
        return NULL;
    }
    return handle;
}

/* Loads file for a walk against it: its document, or NULL after the error
 * lines. */
static XmlState *load_for_walk(const char *file)
{
    int unloaded;

    return load_document(file, "xml_read_through_src_file", 1, &unloaded);
}

/* The walk of walked_file against loaded_file, whose document is held
 * when it was loaded already (and stays the caller's); walked is
 * walked_file's own document, or NULL when no list needs it. */
static int read_through(const char *walked_file, const char *loaded_file, XmlState *held, XmlState *walked)
{
    char Xpath[XPATH_BUF_SIZE];
    char nXpath[XPATH_BUF_SIZE];
    XmlState *handle = held;
    int result;

    memset(Xpath, 0, sizeof(Xpath));
    memset(nXpath, 0, sizeof(nXpath));
    if (!handle) {
        handle = load_for_walk(loaded_file);
        if (!handle)
            return 1;
    }
    content_instances.clear();
    result = streamFile(walked_file, 0, Xpath, nXpath, handle, walked, &delta_walk_callbacks);
    if (!held) {
        xml_fini(handle);
        xmlCleanupParser();
    }
    return result;
}

int xml_read_through_src_file(const char *walked_file, const char *loaded_file)
{
    return read_through(walked_file, loaded_file, NULL, NULL);
}

/* Loads file as the walk would and checks its declared lists: 0, or 1.
 * With held, the loaded file is kept in *held for the walk that would
 * load it again. */
static int check_lists_of(const char *file, XmlState **held)
{
    XmlState *handle;
    int unloaded;
    int result;

    if (held)
        *held = NULL;
    if (!walk_lists())
        return 0;
    handle = load_document(file, __func__, 0, &unloaded);
    /* A file that cannot be loaded: the walks say why, as they do without
     * declared lists. */
    if (!handle)
        return unloaded ? 0 : 1;
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

/* Frees the documents the check of the lists kept, if any. */
static void release_held(XmlState *held, XmlState *also)
{
    if (held)
        xml_fini(held);
    if (also)
        xml_fini(also);
    if (held || also)
        xmlCleanupParser();
}

/* Whether a declared list is matched by content: its entries are decided
 * on the whole list instance of both files, so the walked file is loaded
 * too. */
static int content_lists_declared(void)
{
    const KeyLists *lists = walk_lists();

    for (int i = 0; lists && i < lists->count; i++) {
        if (lists->lists[i].content)
            return 1;
    }
    return 0;
}

int xml_create_xpath_delta(const char *src_file, const char *new_file, const char *delta_file)
{
    XmlState *held_new = NULL;
    XmlState *held_src = NULL;
    int content = content_lists_declared();
    int result;
    int rc;

    console_log(1, "%s: Started\n", __func__);
    /* Each run starts afresh, also the second of one process. */
    reset_walk_state();
    reset_delta_state();
    delta_mode = 1;

    /* Entries that cannot be matched by their key are refused before the
     * delta file is made.  The source is walked first, against the new
     * file: the new file's checked document is kept for that walk (and the
     * source's, when lists are matched by content). */
    if (check_lists_of(src_file, content ? &held_src : NULL) != 0)
        return 1;
    if (check_lists_of(new_file, &held_new) != 0) {
        release_held(held_src, NULL);
        return 1;
    }
    rc = open_delta_file(delta_file);
    if (rc == -2) {
        console_log(0, "%s: ###Error not a regular file, refused:%s\n", __func__, delta_file);
        release_held(held_new, held_src);
        return 1;
    }
    if (rc != 0) {
        console_log(0, "%s: ###Error cannot create file:%s\n", __func__, show_str(delta_file));
        release_held(held_new, held_src);
        return 1;
    }

    /* First walk: the source file against the new one. */
    result = read_through(src_file, new_file, held_new, held_src);
    if (result != 0) {
        result = 1;
        console_log(0, "%s: ###Error xml_read_through_src_file() failed\n", __func__);
    } else {
        /* Second walk: the new file against the source, numbering anew. */
        console_log(1, "\n%s: Checking XML Tags that where Added:\n", __func__);
        console_log(1, "-----------------------------------------\n");
        delta_add_pass = 1;
        clear_xpath_maps();
        release_held(held_new, held_src);
        held_new = NULL;
        held_src = NULL;
        /* Both documents have the bindings of the first walk: the second
         * walk, which needs both for the lists matched by content, loads
         * them afresh. */
        if (content) {
            held_new = load_for_walk(new_file);
            held_src = held_new ? load_for_walk(src_file) : NULL;
            result = held_src ? read_through(new_file, src_file, held_src, held_new) : 1;
        } else {
            result = read_through(new_file, src_file, NULL, NULL);
        }
    }
    release_held(held_new, held_src);

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
