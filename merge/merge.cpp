/*
 * The three-way merge: walks the device's file D against the new release's
 * file N (the output document) and the old release's file O, decides for
 * every leaf of D whether the device's value goes into N, and saves the
 * merged N over D once the whole walk has succeeded.
 */
#include "merge.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <libxml/parser.h>

#include "../cli/console.h"
#include "../cli/input_doc.h"
#include "../walk/reader.h"
#include "../walk/walk.h"
#include "../xmldata/xmldata_target.h"
#include "report.h"
#include "tally.h"

#include "../common/banned.h"

int keep_local_tags = 1;
enum MergeConflicts merge_conflicts = MERGE_CONFLICTS_DEVICE;
const char *merge_out_file = NULL;
int merge_dry_run = 0;

/* Settings that --conflicts=fail refused in this merge. */
static int conflicts_found;

void merge_refuse_setting(void)
{
    conflicts_found++;
}

/* What the walk of D calls: the leaf and root decisions, and the tally of
 * D's elements. */
static const WalkCallbacks merge_walk_callbacks = {
    merge_and_update, merge_root_attributes, merge_tally_element, "merge_and_update()", merge_entry, merge_list_end,
};

int xml_merge_and_update(const char *src_file, const char *new_file, const char *dest_file, int discard_local_tags)
{
    char Xpath[XPATH_BUF_SIZE];
    char nXpath[XPATH_BUF_SIZE];
    XmlState *nDoc;
    XmlState *oDoc;
    XmldataTarget target;
    const char *out_file = merge_out_file ? merge_out_file : dest_file;
    int replaced = 0;
    int result;

    memset(Xpath, 0, sizeof(Xpath));
    memset(nXpath, 0, sizeof(nXpath));
    console_log(0, "%s: Started\n", __func__);
    /* Each run starts afresh, also the second of one process. */
    reset_walk_state();
    reset_placement();
    reset_entries();
    delta_mode = 0;
    keep_local_tags = discard_local_tags ? 0 : 1;
    conflicts_found = 0;
    xml_lib_setup();

    nDoc = load_walk_document(__func__, new_file, "NEW");
    if (!nDoc)
        return 1;
    oDoc = load_walk_document(__func__, src_file, "SRC");
    if (!oDoc) {
        xml_fini(nDoc);
        return 1;
    }

    /* D's folder is held from before D is read: the result goes where D
     * was found, whatever is swapped on its path meanwhile.  A folder that
     * cannot be held fails the save, after the walk has had its say. */
    xmldata_target_hold(&target, out_file);

    /* D is only read until the walk is over; a walk that failed anywhere,
     * D not well formed included, leaves it as it was, and so does an
     * error or warning of the XML library: status 1 always means that D
     * is as it was, but where only its folder could not be flushed. */
    /* Entries that cannot be matched by their key stop the merge before
     * anything is decided; D's are found as the walk meets them. */
    if (walk_check_lists(oDoc, src_file) != 0 || walk_check_lists(nDoc, new_file) != 0 ||
        streamFile(dest_file, 0, Xpath, nXpath, nDoc, oDoc, &merge_walk_callbacks) != 0) {
        console_log(0, "%s: ###Error during merge, Discard changes to output XML\n", __func__);
        result = 1;
    } else if (xml_lib_error) {
        console_log(0, "%s: ###Error XML library reported an error or warning, Discard changes to output XML\n", __func__);
        result = 1;
    } else if (conflicts_found) {
        result = 1;   /* each has its error line */
    } else if (merge_report_sync(0, !merge_dry_run) != 0) {
        result = 1;   /* the account comes before the act */
    } else if (merge_dry_run) {
        console_log(1, "%s: Dry run, nothing saved:%s\n", __func__, show_str(dest_file));
        result = 0;
    } else if (xmldata_save_held(nDoc, &target, out_file, &replaced) == -1) {
        int err = errno;

        if (replaced) {
            console_log(0, "%s: ###Error %s holds the result, but its folder could not be flushed: %s\n", __func__,
                        show_str(out_file), xml_save_error_text(err));
        } else {
            console_log(0, "%s: ###Error Failed to save OUT xml file:%s\n", __func__, show_str(out_file));
            console_log(0, "%s: ###Error Cannot save %s: %s\n", __func__, show_str(out_file),
                        xml_save_error_text(err));
        }
        result = 1;
        merge_report_sync(1, replaced);
    } else {
        console_log(1, "%s: Successfully saved out file:%s\n", __func__, show_str(out_file));
        result = 0;
    }

    xmldata_target_release(&target);
    /* The copies of D's entries that the walk kept. */
    reset_entries();
    xml_fini(oDoc);
    xml_fini(nDoc);
    xmlCleanupParser();
    return result;
}

/*
 * Whether the device's value differs from what the old release shipped.
 * o_status is 0 when O's value was read and is not empty.
 */
static int is_user_change(const char *d_value, const char *o_value, int o_status)
{
    if (d_value)
        return o_status != 0 || strcmp(d_value, o_value) != 0;
    return o_status == 0;
}

/*
 * Under --conflicts=fail, a setting that both sides changed, or that D
 * changed while the release removed it, gets an error line in the
 * caller's name and is counted: the merge then saves nothing.  n_value is
 * N's value, NULL when N has none.
 */
static void refuse_conflict(const char *caller, enum MergeDecision kind, XmlState *oDoc, const char *Xpath,
                            const char *n_value, xmlTextReaderPtr reader)
{
    char look[LOOKUP_BUF_SIZE];
    char *o_value = NULL;
    xmlChar *d_text;

    if (merge_conflicts != MERGE_CONFLICTS_FAIL || (kind != MERGE_BOTH_CHANGED && kind != MERGE_LOST_WITH_ELEMENT))
        return;
    if (walk_copy_value(oDoc, lookup_path(Xpath, look), &o_value) != 0)
        o_value = NULL;
    d_text = reader ? walk_leaf_value(reader) : NULL;
    console_log(0, "%s: ###Error both changed (Xpath=%s) value(O=%s; N=%s; D=%s)\n", caller, Xpath, show_str(o_value),
                show_str(n_value), show_str(reinterpret_cast<const char *>(d_text)));
    conflicts_found++;
    xmlFree(d_text);
    free(o_value);
}

int merge_and_update(XmlState *nDoc, XmlState *oDoc, char *Xpath, char *nXpath, xmlTextReaderPtr reader)
{
    char placed[XPATH_BUF_SIZE];
    char *nPath = placement_path(Xpath, placed);
    char pri[XPATH_BUF_SIZE];
    char look[LOOKUP_BUF_SIZE];
    xmlChar *d_text = NULL;
    const char *d_value;
    char *o_value = NULL;
    enum MergeDecision kind;
    int o_status;
    int pri_set;
    int result = 0;

    (void)nXpath;
    merge_tally_settings(1);
    merge_tally_leaf(nDoc, oDoc, Xpath, nPath, reader);

    if (check_node_in_doc(nDoc, nPath, "N-file", 0) != 0) {
        if (!keep_local_tags) {
            kind = merge_kind_discarded(oDoc, Xpath, reader);
            merge_tally(kind);
            refuse_conflict(__func__, kind, oDoc, Xpath, NULL, reader);
            return 0;   /* local tags are discarded */
        }
        if (check_node_in_doc(oDoc, Xpath, "O-file", 1) == 0) {
            kind = merge_kind_removed(oDoc, Xpath, reader);
            merge_tally(kind);
            refuse_conflict(__func__, kind, oDoc, Xpath, NULL, reader);
            return 0;   /* the new release dropped the element */
        }
        merge_tally(MERGE_LOCAL_KEPT);
        console_log(0, "%s:++++Local tag found in D (Xpath=%s)\n", __func__, Xpath);
        return add_node_or_set_content(nDoc, nPath, reader, NULL);
    }

    /* A PRI beginning with 1 on N's element forces N's value. */
    pri_set = xml_get_prop(nDoc, lookup_path(nPath, look), "PRI", pri, sizeof(pri)) == 0 && pri[0] == '1';
    if (pri_set) {
        merge_tally(merge_kind_forced(nDoc, nPath, reader));
        console_log(1, "%s:++++Rule 1-5:PRI Attr set--Keep N(xpath=%s)\n", __func__, Xpath);
        return 0;
    }

    if (reader)
        d_text = walk_leaf_value(reader);
    d_value = reinterpret_cast<const char *>(d_text);
    o_status = walk_copy_value(oDoc, lookup_path(Xpath, look), &o_value) == 0 ? 0 : -1;
    if (o_status == 0 && o_value[0] == '\0') {
        console_log(2, "%s:++++Found Empty tag in O, set rc = -1\n", __func__);
        o_status = -1;
    }

    if (is_user_change(d_value, o_value, o_status)) {
        char *n_value = NULL;

        kind = merge_kind_user_change(nDoc, nPath, o_status == 0 ? o_value : NULL, d_value);
        if (kind == MERGE_BOTH_CHANGED && merge_conflicts != MERGE_CONFLICTS_DEVICE &&
            walk_copy_value(nDoc, lookup_path(nPath, look), &n_value) != 0)
            n_value = NULL;
        merge_tally(kind);
        if (kind == MERGE_BOTH_CHANGED && merge_conflicts == MERGE_CONFLICTS_RELEASE) {
            console_log(0, "%s:++++Rule 2-6:O!=D PRI:%d)--Keep N(Both changed)(Xpath=%s); value(O=%s; N=%s; D=%s)\n",
                        __func__, pri_set, Xpath, show_str(o_value), show_str(n_value), show_str(d_value));
        } else {
            console_log(0,
                        "%s:++++Rule 2-6:O!=D PRI:%d)--Copy D to N(User change)(Xpath=%s); value(O=%s; D=%s), rc:%d\n",
                        __func__, pri_set, Xpath, show_str(o_value), show_str(d_value), o_status);
            refuse_conflict(__func__, kind, oDoc, Xpath, n_value, reader);
            if (add_node_or_set_content(nDoc, nPath, NULL, d_value) != 0) {
                console_log(0, "%s: ###Error add_node_or_set_content() failed\n", __func__);
                result = 1;
            }
        }
        free(n_value);
    } else {
        merge_tally(merge_kind_kept(nDoc, Xpath, o_status == 0 ? o_value : NULL));
        console_log(0, "%s:++++Rule 3-4:O==D(PRI:%d)--Keep N(Xpath=%s) value(O=%s; D=%s), rc:%d\n", __func__,
                    pri_set, Xpath, show_str(o_value), show_str(d_value), o_status);
    }

    xmlFree(d_text);
    free(o_value);
    return result;
}
