/*
 * Placement of the walked element in a document: finding its counterpart
 * and creating or updating it in the merge's output document.
 */
#include "merge.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include <libxml/xpath.h>

#include "../cli/console.h"
#include "../walk/walk.h"

#include "../common/banned.h"

/*
 * Moves path on to the next position of its last step: [k] becomes [k+1],
 * and a step without a position gets [2].  With record set the extra
 * occurrence is counted in mapXpath either way.  0, or -1 when the path
 * has no room for the next position (it would be tried forever).
 */
static int next_position(char *path, int record)
{
    size_t len;
    int rc = increment_xpath_index(path, record);

    if (rc == 0)
        return 0;
    if (rc != -1)
        return -1;
    len = strlen(path);
    if (len + 3 >= XPATH_BUF_SIZE)
        return -1;
    if (record)
        add_to_map(path);
    snprintf(path + len, XPATH_BUF_SIZE - len, "[%d]", 2);
    return 0;
}

/*
 * How many positions a search from path may move on: the number of element
 * children of the element that path's last step starts from, since no
 * sibling lies beyond them.  0 when they cannot be counted.  Only a path
 * whose every position selects something (a predicate that always holds)
 * reaches this bound.
 */
static int position_bound(XmlState *doc, const char *path)
{
    char parent[XPATH_BUF_SIZE];
    char look[LOOKUP_BUF_SIZE];
    char children[LOOKUP_BUF_SIZE + 2];
    int count = 0;

    snprintf(parent, sizeof(parent), "%s", show_str(path));
    remove_last_step(parent);
    snprintf(children, sizeof(children), "%s/*", lookup_path(parent, look));
    if (xml_copy_node_count(doc, children, &count) != 0)
        return 0;
    return count;
}

/*
 * Counts one more move of a position search from path; 1 once the moves
 * outnumber the element children of path's parent, counted at the first
 * move into *bound.
 */
static int moved_past_children(XmlState *doc, const char *path, int *bound, int *moves)
{
    if (*bound < 0)
        *bound = position_bound(doc, path);
    return ++*moves > *bound;
}

int check_node_in_doc(XmlState *doc, const char *path, const char *label, int proceed_on_mismatch)
{
    char next[XPATH_BUF_SIZE];
    char prev[XPATH_BUF_SIZE];
    char look[LOOKUP_BUF_SIZE];
    int bound = -1;
    int moves = 0;

    snprintf(next, sizeof(next), "%s", show_str(path));
    /* Each try moves one position on; the first position past the last
     * sibling selects nothing, which ends the search. */
    for (;;) {
        if (xml_is_nodeset_exists(doc, lookup_path(next, look)) != 0) {
            console_log(2, "%s:+++Nodeset doesn't exists:%s\n", __func__, show_str(label));
            return 1;
        }
        console_log(2, "%s:+++Found node, checking attributes:%s\n", __func__, show_str(label));
        if (xpath_compare_attr(doc, next, 0) == 0) {
            console_log(2, "%s:+++Attribute match in:%s\n", __func__, show_str(label));
            return 0;
        }
        console_log(2, "%s:+++Attribute doesn't match:%s, proceed_on_mismatch:%d\n", __func__, show_str(label),
                    proceed_on_mismatch);
        if (!proceed_on_mismatch)
            return 1;
        if (moved_past_children(doc, path, &bound, &moves)) {
            console_log(0, "%s: ###Error Xpath:%s still selects past the %d element children of its parent\n",
                        __func__, next, bound);
            return 1;
        }
        snprintf(prev, sizeof(prev), "%s", next);
        if (next_position(next, 0) != 0)
            return 1;
        console_log(0, "%s:+++Index got adjusted (Xpath new=%s, old=%s)\n", __func__, next, prev);
    }
}

/*
 * Elements created at another position than the walk's: a step at from
 * (a path prefix) was created at to.  Applied in the order they were made,
 * each once, to every later path of the output document: a later move
 * inside a moved element was recorded on the path as already moved.
 */
static std::vector<std::pair<std::string, std::string>> moved_steps;

void reset_placement(void)
{
    moved_steps.clear();
}

char *placement_path(char *Xpath, char *buf)
{
    std::string path;
    int moved = 0;

    if (moved_steps.empty())
        return Xpath;
    path = Xpath;
    for (const auto &m : moved_steps) {
        const std::string &from = m.first;

        if (path.compare(0, from.size(), from) == 0 && (path.size() == from.size() || path[from.size()] == '/')) {
            path = m.second + path.substr(from.size());
            moved = 1;
        }
    }
    if (!moved || path.size() >= XPATH_BUF_SIZE)
        return Xpath;
    memcpy(buf, path.c_str(), path.size() + 1);
    return buf;
}

/* How many nodes path selects in doc; -1 when it cannot be evaluated.
 * Asked without a diagnostic record: these are the placement's own tests. */
static int selected_count(XmlState *doc, const char *path)
{
    char look[LOOKUP_BUF_SIZE];
    xmlXPathObjectPtr res = xml_eval_xpath(doc, lookup_path(path, look));
    int count = -1;

    if (res && res->type == XPATH_NODESET)
        count = res->nodesetval ? res->nodesetval->nodeNr : 0;
    xmlXPathFreeObject(res);
    return count;
}

/*
 * The first step of path that selects nothing in doc is where creation
 * starts.  When its position lies further than one past the last sibling
 * of that step (the release dropped siblings that D still has), an element
 * created there could never be found at that position: it is created right
 * after the last sibling instead.  1 with that path in moved (XPATH_BUF_SIZE
 * bytes), the move recorded for the later paths of the walk below it; 0
 * when path stays as it is.  The walk's own path is left alone: O is still
 * looked up at D's positions.
 */
static int move_back_to_siblings(XmlState *doc, const char *path, char *moved)
{
    char first[XPATH_BUF_SIZE];
    char parent[XPATH_BUF_SIZE];
    size_t len;
    size_t digits;
    long k;
    int count;

    snprintf(first, sizeof(first), "%s", path);
    for (;;) {
        snprintf(parent, sizeof(parent), "%s", first);
        remove_last_step(parent);
        if (parent[0] == '\0' || selected_count(doc, parent) > 0)
            break;
        snprintf(first, sizeof(first), "%s", parent);
    }
    len = strlen(first);
    if (len < 3 || first[len - 1] != ']')
        return 0;
    for (digits = len - 1; digits > 0 && first[digits - 1] >= '0' && first[digits - 1] <= '9'; digits--)
        ;
    if (digits == len - 1 || digits < 2 || first[digits - 1] != '[')
        return 0;
    k = strtol(first + digits, NULL, 10);
    first[digits - 1] = '\0';
    count = selected_count(doc, first);
    if (count < 0 || k <= (long)count + 1)
        return 0;
    /* A lower position has no more digits: it always fits. */
    if (snprintf(parent, sizeof(parent), "%s[%d]", first, count + 1) >= (int)sizeof(parent))
        return 0;
    moved_steps.emplace_back(std::string(path, len), std::string(parent));
    /* The lower position is no longer: the path still fits. */
    snprintf(moved, XPATH_BUF_SIZE, "%s%s", parent, path + len);
    console_log(0, "%s:+++Index got adjusted (Xpath new=%s, old=%s)\n", "add_node_or_set_content", moved, path);
    return 1;
}

int add_node_or_set_content(XmlState *doc, char *Xpath, xmlTextReaderPtr reader, const char *value)
{
    char old[XPATH_BUF_SIZE];
    char moved[XPATH_BUF_SIZE];
    char look[LOOKUP_BUF_SIZE];
    const char *target = Xpath;
    const char *found;
    xmlChar *read_value = NULL;
    char *current = NULL;
    int exists = 0;
    int bound = -1;
    int moves = 0;
    int rc = 0;

    /* Find the position where the walked element is, or is to be created:
     * an element of the same name with other attributes is passed over. */
    while (xml_is_nodeset_exists(doc, lookup_path(Xpath, look)) == 0) {
        console_log(0, "%s:+++Found node, checking attributes\n", __func__);
        if (xpath_compare_attr(doc, Xpath, 0) == 0) {
            console_log(0, "%s:+++Attribute match\n", __func__);
            exists = 1;
            break;
        }
        console_log(0, "%s:+++Attribute doesn't match, try by increasing index\n", __func__);
        if (moved_past_children(doc, Xpath, &bound, &moves)) {
            console_log(0, "%s: ###Error Xpath:%s still selects past the %d element children of its parent\n",
                        __func__, Xpath, bound);
            return 1;
        }
        snprintf(old, sizeof(old), "%s", Xpath);
        if (next_position(Xpath, 1) != 0) {
            console_log(0, "%s: ###Error no room to move on from Xpath:%s\n", __func__, Xpath);
            return 1;
        }
        console_log(0, "%s:+++Index got adjusted (Xpath new=%s, old=%s)\n", __func__, Xpath, old);
    }

    if (!exists && move_back_to_siblings(doc, Xpath, moved))
        target = moved;
    /* The store creates and sets what the walk's path means. */
    found = lookup_path(target, look);
    if (exists) {
        console_log(0, "%s:+++Node Exists - gXpath=%s (len=%d)\n", __func__, target, (int)strlen(target));
    } else if (xml_create_node_path_if_possible_with_attr(doc, found) != 0) {
        console_log(0, "%s: ###Error xml_create_node_path_if_possible() failed\n", __func__);
        return 1;
    } else {
        console_log(0, "%s: +++Added - gXpath=%s (len=%d)\n", __func__, target, (int)strlen(target));
    }

    /* The reader gives the text of a text node, nothing for an element. */
    if (!value && reader) {
        read_value = walk_leaf_value(reader);
        value = reinterpret_cast<const char *>(read_value);
    }

    if (value) {
        int len = (int)strlen(value);

        if (walk_copy_value(doc, found, &current) == 0 && strcmp(current, value) == 0) {
            console_log(1, "%s: ++Value exists - Value (len:%d): %s\n", __func__, len, value);
        } else if (walk_set_value(doc, found, value) != 0) {
            console_log(0, "%s: ###Error xml_set_node_value() failed\n", __func__);
            rc = 1;
        } else {
            console_log(1, "%s: +++Setting -- Value(len:%d): %s\n", __func__, len, value);
        }
    } else {
        console_log(1, "%s: +++Empty node\n", __func__);
        if (xml_set_node_value(doc, found, NULL, 0) != 0) {
            console_log(0, "%s: ###Error xml_set_node_value() failed\n", __func__);
            rc = 1;
        }
    }

    xmlFree(read_value);
    free(current);
    return rc;
}
