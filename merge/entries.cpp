/*
 * The entries of declared lists in the merge.  An entry is known by its
 * key, so the walk of D finds N's and O's entry wherever each stands:
 *
 *   in D and N        matched: its inside follows the rules of every leaf,
 *                     its attributes other than the key are settings
 *   in D and O only   removed by the release: left out
 *   in D only         the user's: copied whole into N right after the
 *                     entry of the D entry before it that is in the
 *                     result, else before N's first entry of the list,
 *                     else as the parent's last element; left out with -p
 *   in N and O only   deleted by the user: goes when N's equals O's, and
 *                     stays as N has it when the release changed it
 *   in N only         the release's: stays
 *
 * N's entries keep their order.
 */
#include "merge.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "../cli/console.h"
#include "../walk/keys.h"
#include "../walk/walk.h"
#include "tally.h"

#include "../common/banned.h"

/* N's entries that an entry of D matched, or that came from D. */
static std::set<xmlNodePtr> matched;
/* Per list instance (its parent's path in D and the entries' name): the
 * element of N that the last D entry put into the result is. */
static std::map<std::string, xmlNodePtr> last_in_result;

void reset_entries(void)
{
    reset_content_lists();
    matched.clear();
    last_in_result.clear();
}

static const char *text(const xmlChar *s)
{
    return show_str(reinterpret_cast<const char *>(s));
}

/* The namespace of a node, "" for none. */
static const xmlChar *href(xmlNsPtr ns)
{
    return ns && ns->href ? ns->href : BAD_CAST "";
}

/* The attributes of a node that count for its content: all but PRI. */
static int counted_attributes(xmlNodePtr node)
{
    int count = 0;

    for (xmlAttrPtr a = node->properties; a; a = a->next) {
        if (a->ns || !xmlStrEqual(a->name, BAD_CAST "PRI"))
            count++;
    }
    return count;
}

static int same_attributes(xmlNodePtr a, xmlNodePtr b)
{
    if (counted_attributes(a) != counted_attributes(b))
        return 0;
    for (xmlAttrPtr attr = a->properties; attr; attr = attr->next) {
        xmlChar *mine;
        xmlChar *theirs;
        int same;

        if (!attr->ns && xmlStrEqual(attr->name, BAD_CAST "PRI"))
            continue;
        mine = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(attr));
        theirs = attr->ns ? xmlGetNsProp(b, attr->name, attr->ns->href) : xmlGetNoNsProp(b, attr->name);
        same = theirs && xmlStrEqual(mine ? mine : BAD_CAST "", theirs);
        xmlFree(mine);
        xmlFree(theirs);
        if (!same)
            return 0;
    }
    return 1;
}

/* What a node's content is made of: its elements, and the runs of text
 * between them (text and CDATA joined, comments left out); whitespace runs
 * do not count beside elements. */
struct Piece {
    xmlNodePtr element;
    std::string text;
};

static void pieces_of(xmlNodePtr node, std::vector<Piece> *pieces)
{
    int elements = 0;
    int in_text = 0;

    for (xmlNodePtr c = node->children; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE) {
            pieces->push_back(Piece{c, std::string()});
            elements = 1;
            in_text = 0;
        } else if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE || c->type == XML_ENTITY_REF_NODE) {
            /* A text node holds its text: only a reference is copied out. */
            xmlChar *content = c->type == XML_ENTITY_REF_NODE ? xmlNodeGetContent(c) : NULL;

            if (!in_text)
                pieces->push_back(Piece{NULL, std::string()});
            pieces->back().text += text(c->type == XML_ENTITY_REF_NODE ? content : c->content);
            xmlFree(content);
            in_text = 1;
        }
    }
    if (!elements)
        return;
    /* Whitespace between elements is layout: kept in order, the rest. */
    size_t kept = 0;
    for (size_t i = 0; i < pieces->size(); i++) {
        Piece &p = (*pieces)[i];

        if (!p.element && p.text.find_first_not_of(" \t\r\n") == std::string::npos)
            continue;
        if (kept != i)
            (*pieces)[kept] = std::move(p);
        kept++;
    }
    pieces->resize(kept);
}

int merge_entries_equal(xmlNodePtr a, xmlNodePtr b)
{
    std::vector<Piece> pa;
    std::vector<Piece> pb;

    if (!a || !b || !xmlStrEqual(a->name, b->name) || !xmlStrEqual(href(a->ns), href(b->ns)) ||
        !same_attributes(a, b))
        return 0;
    pieces_of(a, &pa);
    pieces_of(b, &pb);
    if (pa.size() != pb.size())
        return 0;
    for (size_t i = 0; i < pa.size(); i++) {
        if (!pa[i].element != !pb[i].element)
            return 0;
        if (pa[i].element ? !merge_entries_equal(pa[i].element, pb[i].element) : pa[i].text != pb[i].text)
            return 0;
    }
    return 1;
}

/* FNV-1a over len bytes, on from h. */
static uint64_t fnv(uint64_t h, const void *data, size_t len)
{
    const unsigned char *p = static_cast<const unsigned char *>(data);

    for (size_t i = 0; i < len; i++) {
        h ^= p[i];
        h *= 1099511628211ULL;
    }
    return h;
}

static uint64_t fnv_text(uint64_t h, const xmlChar *s)
{
    /* The terminator too: "ab"+"c" and "a"+"bc" differ. */
    return fnv(h, s ? s : BAD_CAST "", s ? (size_t)xmlStrlen(s) + 1 : 1);
}

uint64_t merge_entry_hash(xmlNodePtr node)
{
    const uint64_t basis = 14695981039346656037ULL;
    uint64_t h = fnv_text(fnv_text(basis, node->name), href(node->ns));
    uint64_t attributes = 0;
    std::vector<Piece> pieces;

    /* The attributes as a set: the sum of their hashes. */
    for (xmlAttrPtr a = node->properties; a; a = a->next) {
        xmlChar *value;

        if (!a->ns && xmlStrEqual(a->name, BAD_CAST "PRI"))
            continue;
        value = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(a));
        attributes += fnv_text(fnv_text(fnv_text(basis, href(a->ns)), a->name), value ? value : BAD_CAST "");
        xmlFree(value);
    }
    h = fnv(h, &attributes, sizeof(attributes));
    pieces_of(node, &pieces);
    for (const Piece &p : pieces) {
        if (p.element) {
            uint64_t child = merge_entry_hash(p.element);

            h = fnv(fnv(h, "E", 1), &child, sizeof(child));
        } else {
            h = fnv(fnv(h, "T", 1), p.text.c_str(), p.text.size() + 1);
        }
    }
    return h;
}

/* The list instance of an entry at Xpath named name: its parent's path
 * and the name. */
static std::string instance_of(const char *Xpath, const xmlChar *name)
{
    int cut = xml_path_parent_len(Xpath);

    return std::string(Xpath, cut > 0 ? (size_t)cut : 0) + "/" + text(name);
}

/* Tells the tally, and the report, what became of a whole entry. */
static void decided(enum MergeDecision kind, const char *Xpath)
{
    /* The entry is one setting, whose value is all of it. */
    merge_tally_settings(1);
    merge_tally_values(Xpath, NULL, NULL, NULL);
    merge_tally(kind);
}

/* The first element of N's parent that is an entry named like entry. */
static xmlNodePtr first_entry(xmlNodePtr parent, xmlNodePtr entry)
{
    for (xmlNodePtr c = parent->children; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE && xmlStrEqual(c->name, entry->name))
            return c;
    }
    return NULL;
}

/* Copies the user's entry d into N: 0, WALK_SKIP when the release removed
 * its parent, or -1. */
static int place_user_entry(XmlState *nDoc, XmlState *oDoc, const char *Xpath, const char *nPath, xmlNodePtr d)
{
    char parent[XPATH_BUF_SIZE];
    char o_parent[XPATH_BUF_SIZE];
    char look[LOOKUP_BUF_SIZE];
    std::string instance = instance_of(Xpath, d->name);
    xmlNodePtr n_parent;
    xmlNodePtr after = NULL;
    xmlNodePtr copy;

    snprintf(parent, sizeof(parent), "%s", nPath);
    remove_last_step(parent);
    n_parent = first_selected(nDoc, lookup_path(parent, look));
    if (!n_parent) {
        snprintf(o_parent, sizeof(o_parent), "%s", Xpath);
        remove_last_step(o_parent);
        if (first_selected(oDoc, lookup_path(o_parent, look)))
            return WALK_SKIP;   /* the release removed the whole list */
        if (xml_create_node_path_if_possible_with_attr(nDoc, parent) == 0)
            n_parent = first_selected(nDoc, lookup_path(parent, look));
        if (!n_parent)
            return -1;
    }
    auto last = last_in_result.find(instance);
    if (last != last_in_result.end() && last->second->parent == n_parent)
        after = last->second;
    copy = xml_insert_copy(nDoc, n_parent, after, after ? NULL : first_entry(n_parent, d), d);
    if (!copy)
        return -1;
    matched.insert(copy);
    last_in_result[instance] = copy;
    return 0;
}

int merge_entry(XmlState *nDoc, XmlState *oDoc, char *Xpath, xmlTextReaderPtr reader, const KeyList *list)
{
    char placed[XPATH_BUF_SIZE];
    char look[LOOKUP_BUF_SIZE];
    char *nPath;
    xmlNodePtr d;
    xmlNodePtr n;
    xmlNodePtr o;
    int rc;

    if (list->content)
        return merge_content_entry(Xpath, reader);
    nPath = placement_path(Xpath, placed);
    d = xmlTextReaderExpand(reader);
    n = first_selected(nDoc, lookup_path(nPath, look));
    o = first_selected(oDoc, lookup_path(Xpath, look));
    if (!d)
        return WALK_FAIL;
    if (n) {
        matched.insert(n);
        last_in_result[instance_of(Xpath, d->name)] = n;
        return merge_element_attributes(nDoc, Xpath, n, o, d, list) == 0 ? WALK_ENTER : WALK_FAIL;
    }
    if (o) {
        decided(MERGE_ENTRY_RELEASE_REMOVED, Xpath);
        console_log(0, "%s:++++Entry removed by the release (Xpath=%s)\n", __func__, Xpath);
        if (merge_conflicts == MERGE_CONFLICTS_FAIL && !merge_entries_equal(o, d)) {
            console_log(0, "%s: ###Error both changed (Xpath=%s): the release removed the entry that D changed\n",
                        __func__, Xpath);
            merge_refuse_setting();
        }
        return WALK_SKIP;
    }
    if (!keep_local_tags) {
        decided(MERGE_ENTRY_LOCAL_DROPPED, Xpath);
        console_log(0, "%s:++++Discard local entry found in D (Xpath=%s)\n", __func__, Xpath);
        return WALK_SKIP;
    }
    rc = place_user_entry(nDoc, oDoc, Xpath, nPath, d);
    if (rc < 0) {
        console_log(0, "%s: ###Error cannot add the entry of D (Xpath=%s)\n", __func__, Xpath);
        return WALK_FAIL;
    }
    if (rc == WALK_SKIP) {
        decided(MERGE_ENTRY_RELEASE_REMOVED, Xpath);
        console_log(0, "%s:++++Entry removed by the release with its list (Xpath=%s)\n", __func__, Xpath);
        return WALK_SKIP;
    }
    decided(MERGE_ENTRY_LOCAL_KEPT, Xpath);
    console_log(0, "%s:++++Local entry found in D (Xpath=%s)\n", __func__, Xpath);
    return WALK_SKIP;
}

int merge_holds_pri(xmlNodePtr node)
{
    xmlChar *pri = xmlGetNoNsProp(node, BAD_CAST "PRI");
    int forced = pri && pri[0] == '1';

    xmlFree(pri);
    for (xmlNodePtr c = node->children; c && !forced; c = c->next) {
        if (c->type == XML_ELEMENT_NODE)
            forced = merge_holds_pri(c);
    }
    return forced;
}

/* The prefix (into buf; "" for none) under which D's walk writes the
 * namespace of N's entry c of the list instance whose parent is n_parent
 * and whose parent's path in D is Xpath: the prefix of that path's last
 * step when the entry is in its parent's namespace, as entries are; c's
 * own otherwise.  The files may write one namespace with other prefixes. */
static const xmlChar *prefix_in_d(const char *Xpath, xmlNodePtr n_parent, xmlNodePtr c, char *buf, size_t size)
{
    int cut = xml_path_parent_len(Xpath);
    const char *last = Xpath + (cut > 0 ? cut : 0) + 1;
    size_t name_len = strcspn(last, "[");
    const char *colon = static_cast<const char *>(memchr(last, ':', name_len));

    if (cut < 0 || !n_parent || !xmlStrEqual(href(c->ns), href(n_parent->ns)) || last[0] == '*' ||
        (colon && (size_t)(colon - last) >= size))
        return c->ns ? c->ns->prefix : NULL;
    buf[0] = '\0';
    if (colon) {
        memcpy(buf, last, (size_t)(colon - last));
        buf[colon - last] = '\0';
    }
    return BAD_CAST buf;
}

int merge_list_end(XmlState *nDoc, XmlState *oDoc, const char *Xpath, const KeyList *list)
{
    char parent_copy[XPATH_BUF_SIZE];
    char placed[XPATH_BUF_SIZE];
    char look[LOOKUP_BUF_SIZE];
    char step[XPATH_BUF_SIZE];
    char path[XPATH_BUF_SIZE];
    char prefix[XPATH_BUF_SIZE];
    const char *name = strrchr(list->path, '/') + 1;
    const char *nParent;
    xmlNodePtr n_parent;
    xmlNodePtr next;
    int field;

    if (list->content)
        return merge_content_list(nDoc, oDoc, Xpath, list);
    snprintf(parent_copy, sizeof(parent_copy), "%s", Xpath);
    nParent = placement_path(parent_copy, placed);
    last_in_result.erase(std::string(Xpath) + "/" + name);
    n_parent = first_selected(nDoc, lookup_path(nParent, look));
    for (xmlNodePtr c = n_parent ? n_parent->children : NULL; c; c = next) {
        xmlNodePtr o;
        int len;

        next = c->next;
        if (c->type != XML_ELEMENT_NODE || !xmlStrEqual(c->name, BAD_CAST name) || matched.count(c) ||
            keys_entry_step_as(c, prefix_in_d(Xpath, n_parent, c, prefix, sizeof(prefix)), list, step, sizeof(step),
                               &field) != 0)
            continue;
        /* D lacks it: O's entry of the same key says whether D had it. */
        len = snprintf(path, sizeof(path), "%s/%s", Xpath, step);
        if (len < 0 || (size_t)len >= sizeof(path))
            continue;
        o = first_selected(oDoc, lookup_path(path, look));
        if (!o)
            continue;   /* the release's own */
        len = snprintf(path, sizeof(path), "%s/%s", nParent, step);
        if (len < 0 || (size_t)len >= sizeof(path))
            continue;
        if (merge_holds_pri(c)) {
            decided(MERGE_FORCED, path);
            console_log(0, "%s:++++Entry deleted in D, forced by the release (PRI)--Keep N(Xpath=%s)\n", __func__, path);
        } else if (merge_entries_equal(o, c)) {
            decided(MERGE_ENTRY_USER_DELETED, path);
            console_log(0, "%s:++++Entry deleted in D (Xpath=%s)\n", __func__, path);
            if (xml_remove_node(nDoc, c) != 0) {
                console_log(0, "%s: ###Error cannot remove %s\n", __func__, path);
                return 1;
            }
        } else {
            decided(MERGE_ENTRY_RESTORED, path);
            console_log(0, "%s:++++Entry deleted in D, changed by the release--Keep N(Xpath=%s)\n", __func__, path);
            if (merge_conflicts == MERGE_CONFLICTS_FAIL) {
                console_log(0, "%s: ###Error both changed (Xpath=%s): D deleted the entry that the release changed\n",
                            __func__, path);
                merge_refuse_setting();
            }
        }
    }
    return 0;
}
