/*
 * Runs xmlcfg on randomly generated configurations twice, with the path
 * index and without it (XMLCFG_NO_INDEX=1), and fails when the two runs
 * differ in any file they leave, in their standard output or standard error
 * (at -v 2, node addresses masked), in the diagnostic records of the store,
 * or in their exit status.
 *
 *   index_on_off XMLCFG [COUNT [FIRST_SEED]]
 *
 * XMLCFG is a build of the tool whose debug library appends the store's
 * records to the file named by XMLCFG_RECORDS.  Each seed gives one set of
 * files (old, new and device configuration and a cross-merge tag list), on
 * which the merge (with -p for every third seed), the delta and the cross
 * merge run, COUNT seeds from FIRST_SEED (300 from 1).  XMLCFG_EMULATOR,
 * when set, is the command line (an emulator, memcheck) that runs the tool.  The first
 * five differences are shown, and their folders kept for a rerun by hand.
 */
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

typedef std::vector<std::pair<std::string, std::string>> Attrs;  // name, value as written

struct Node {
    std::string name;
    Attrs attrs;
    std::string text;  // as written; a leaf without text is <a/> or <a></a>
    bool self_closing = false;
    bool leaf = true;
    std::vector<Node> kids;
};

// What a generated file may contain beyond plain elements.
struct Flavor {
    bool apostrophes, slashes, namespaces, entity, odd_content, compact;
};

static std::mt19937 rng;
static int rnd(int n) { return (int)(rng() % (unsigned)n); }
static bool chance(int percent) { return rnd(100) < percent; }
template <size_t N> static const char *pick(const char *const (&a)[N]) { return a[rnd(N)]; }

static void set_attr(Attrs &attrs, const std::string &name, const std::string &value)
{
    for (auto &a : attrs)
        if (a.first == name) {
            a.second = value;
            return;
        }
    attrs.push_back({name, value});
}

static bool ends_with(const std::string &s, const char *tail)
{
    size_t n = strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// Attribute values that an XPath step must quote, compare or escape with care.
static const char *const odd_values[] = {
    "", " ", "a b", " two  blanks ", "x&amp;y", "&lt;b&gt;", "a]b", "[1]", "]", "[",
    "w\xc3\xa4rme", "\xe6\x97\xa5\xe6\x9c\xac", "1", "01", "tab\tin", "nl&#10;in", "&#34;q&#34;",
    "@id", "a and b", "*", "..", "a|b", "()", "-1", "x=y"};
static const char *const texts[] = {
    "1", "0", "on", "value", "a b", "x&amp;y", "&lt;tag&gt;", "caf\xc3\xa9", "/path/to", "  padded  ",
    "42", "it is", "192.168.0.1"};
static const char *const leaf_names[] = {"name", "value", "port", "mode", "enabled", "host",
                                         "x-y", "a.b", "_u", "w\xc3\xa4rme", "ip4"};
static const char *const group_names[] = {"wifi", "lan", "dns", "firewall", "system", "vpn", "radio"};
static const char *const item_names[] = {"entry", "rule", "server", "item", "apn"};
static const char *const pri_values[] = {"1", "0", "", "10", "01", "1x"};

static const char *const plain_values[] = {"a", "b", "on", "x1", "eth0", "Lan", "2"};

// A slash in a value makes the creation of a local element fail, and so
// ends the merge: such values come only in some files.
static std::string odd_value(const Flavor &f)
{
    if (f.apostrophes && chance(5))
        return chance(50) ? "it's" : "&#39;";
    if (f.entity && chance(6))
        return "&co;";
    if (f.slashes && chance(10))
        return chance(50) ? "/etc/x" : "a/b";
    return chance(40) ? pick(odd_values) : pick(plain_values);
}

static std::string text_value(const Flavor &f)
{
    if (f.entity && chance(5))
        return "&co;";
    if (f.odd_content && chance(6))
        return chance(50) ? "<![CDATA[a<b]]>" : "before<b>x</b>after";
    return pick(texts);
}

static Node make_leaf(const std::string &name, const Flavor &f)
{
    Node n;
    if (f.namespaces && chance(5)) {
        n.name = "p:" + name;
        n.attrs.push_back({"xmlns:p", "urn:p"});
    } else {
        n.name = name;
    }
    if (chance(12)) {
        n.self_closing = chance(50);
        if (f.odd_content && chance(20))
            n.text = chance(50) ? "  " : "<!-- none -->";
    } else {
        n.text = text_value(f);
    }
    if (chance(10))
        set_attr(n.attrs, "PRI", pick(pri_values));
    if (chance(6))
        set_attr(n.attrs, "type", odd_value(f));
    return n;
}

// A list entry: keyed by id (sometimes also by a second attribute) or not
// keyed at all.
static Node make_entry(const char *name, int keyed, int k, const Flavor &f)
{
    Node n;
    n.name = name;
    n.leaf = false;
    if (keyed)
        n.attrs.push_back({"id", chance(85) ? std::to_string(k) : odd_value(f) + std::to_string(k)});
    if (keyed == 2)
        n.attrs.push_back({"kind", chance(50) ? "a" : odd_value(f)});
    for (int i = 1 + rnd(3); i > 0; i--)
        n.kids.push_back(make_leaf(i == 1 ? "name" : pick(leaf_names), f));
    return n;
}

static Node make_group(int depth, const Flavor &f)
{
    Node g;
    g.name = pick(group_names);
    g.leaf = false;
    if (chance(10))
        g.attrs.push_back({chance(50) ? "mode" : "x", odd_value(f)});
    if (f.namespaces && chance(10))
        g.attrs.push_back({"xmlns", "urn:d"});
    for (int i = 1 + rnd(6); i > 0; i--) {
        int what = rnd(10);
        if (what < 5) {
            g.kids.push_back(make_leaf(pick(leaf_names), f));
        } else if (what < 7) {
            const char *item = pick(item_names);
            int keyed = rnd(3);
            for (int k = 1, n = 1 + rnd(12); k <= n; k++)
                g.kids.push_back(make_entry(item, keyed, k, f));
        } else if (what < 9 && depth < 3) {
            g.kids.push_back(make_group(depth + 1, f));
        } else {
            Node leaf = make_leaf("server", f);
            for (int k = 1 + rnd(3); k > 0; k--)
                g.kids.push_back(leaf);
        }
    }
    return g;
}

static Node make_config(bool wide, const Flavor &f)
{
    Node root;
    root.name = "config";
    root.leaf = false;
    if (wide) {
        Node list;
        list.name = "rules";
        list.leaf = false;
        for (int k = 1, n = 50 + rnd(250); k <= n; k++)
            list.kids.push_back(make_entry("rule", chance(90) ? 1 : 2, k, f));
        root.kids.push_back(make_leaf("version", f));
        root.kids.push_back(list);
    } else {
        for (int i = 2 + rnd(8); i > 0; i--)
            root.kids.push_back(make_group(1, f));
    }
    return root;
}

// The new release's changes (device == false) or the user's (device == true).
static void mutate(Node &n, bool device, const Flavor &f)
{
    for (size_t i = 0; i < n.kids.size(); i++) {
        Node &k = n.kids[i];
        if (chance(device ? 3 : 4)) {
            n.kids.erase(n.kids.begin() + (long)i--);
            continue;
        }
        if (k.attrs.size() > 1 && chance(5))
            std::swap(k.attrs[0], k.attrs[1]);
        if (!device && !k.attrs.empty() && k.attrs[0].first.compare(0, 5, "xmlns") != 0 &&
            chance(3)) {  // other attribute name, same place
            std::string value = k.attrs[0].second;
            k.attrs.erase(k.attrs.begin());
            set_attr(k.attrs, "key", value);
        }
        if (chance(2))
            set_attr(k.attrs, "extra", odd_value(f));
        if (k.leaf) {
            if (chance(device ? 15 : 10))
                k.text = text_value(f);
            if (chance(device ? 4 : 3)) {
                k.text.clear();
                k.self_closing = chance(50);
            }
            if (!device && chance(8))
                set_attr(k.attrs, "PRI", pick(pri_values));
        } else {
            mutate(k, device, f);
        }
        if (chance(4)) {  // an element of its own next to this one
            Node add = k.leaf ? make_leaf(chance(15) ? k.name : "added", f) : k;
            if (!k.leaf && !add.attrs.empty())
                add.attrs[0].second = "new" + std::to_string(rnd(1000));
            else if (!k.leaf)
                add.kids.push_back(make_leaf("local", f));
            n.kids.insert(n.kids.begin() + (long)++i, add);
        }
    }
}

static void write_node(std::string &out, const Node &n, int depth, const Flavor &f)
{
    std::string pad = f.compact ? "" : "\n" + std::string(2 * (size_t)depth, ' ');
    out += "<" + n.name;
    for (const auto &a : n.attrs)
        out += " " + a.first + "=\"" + a.second + "\"";
    if (n.leaf && n.self_closing && n.text.empty()) {
        out += "/>";
        return;
    }
    out += ">";
    if (n.leaf) {
        out += n.text;
    } else {
        for (const Node &k : n.kids) {
            out += pad + "  ";
            if (chance(5))
                out += chance(50) ? "<!-- note -->" : " \n\t ";
            write_node(out, k, depth + 1, f);
        }
        out += pad;
    }
    out += "</" + n.name + ">";
}

static std::string document(const Node &root, const Flavor &f)
{
    std::string out = chance(70) ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" : "";
    if (f.entity)
        out += "<!DOCTYPE config [<!ENTITY co \"Acme\">]>\n";
    write_node(out, root, 0, f);
    return out + "\n";
}

// A value written as it is read, usable in an XPath literal.
static bool plain(const std::string &v)
{
    return v.find_first_of("&'\"<\t") == std::string::npos;
}

// Paths to the leaves of a tree, each step written as a bare name, with its
// position among same-name siblings, or with its attributes and position.

static void leaf_paths(const Node &n, const std::string &prefix, std::vector<std::string> &out)
{
    for (size_t i = 0; i < n.kids.size(); i++) {
        const Node &k = n.kids[i];
        int same = 1, same_attrs = 1;
        for (size_t j = 0; j < i; j++) {
            same += n.kids[j].name == k.name;
            same_attrs += n.kids[j].name == k.name && n.kids[j].attrs == k.attrs;
        }
        std::string step = "/" + k.name, pred;
        for (const auto &a : k.attrs)
            if (a.first != "PRI")
                pred += (pred.empty() ? "[@" : " and @") + a.first + "='" + a.second + "'";
        bool keyed = !pred.empty();
        for (const auto &a : k.attrs)
            keyed = keyed && plain(a.second);
        int form = rnd(3);
        if (chance(4))  // [0], or a position probably past the last
            step += chance(50) ? "[0]" : "[" + std::to_string(same + 3) + "]";
        else if (form == 1)
            step += "[" + std::to_string(same) + "]";
        else if (form == 2 && keyed)
            step += pred + "][" + std::to_string(same_attrs) + "]";
        if (k.leaf)
            out.push_back(prefix + step);
        else
            leaf_paths(k, prefix + step, out);
    }
}

static std::string without_predicates(const std::string &path)
{
    std::string out;
    int depth = 0;
    bool quoted = false;
    for (char c : path) {
        if (quoted)
            quoted = c != '\'';
        else if (c == '\'' && depth)
            quoted = true;
        else if (c == '[' || c == ']')
            depth += c == '[' ? 1 : -1;
        else if (!depth)
            out += c;
    }
    return out;
}

static std::string tag_list(const Node &o, const Node &n)
{
    std::vector<std::string> old_paths, new_paths;
    leaf_paths(o, "/config", old_paths);
    leaf_paths(n, "/config", new_paths);
    std::string out = "<?xml version=\"1.0\"?>\n<cross_merge>\n";
    for (int i = 2 + rnd(12); i > 0 && !old_paths.empty() && !new_paths.empty(); i--) {
        std::string from = old_paths[(size_t)rnd((int)old_paths.size())];
        std::string to = new_paths[(size_t)rnd((int)new_paths.size())];
        if (chance(20))  // a plain path that the cross merge has to create
            to = without_predicates(to.substr(0, to.rfind('/'))) + "/moved" + std::to_string(i);
        if (chance(10))
            from = "\"" + from + "\"";
        out += "  <list><old_tag>" + from + "</old_tag><new_tag>" + to + "</new_tag></list>\n";
    }
    return out + "</cross_merge>\n";
}

static bool write_file(const std::string &path, const std::string &text)
{
    std::ofstream f(path, std::ios::binary);
    f << text;
    return (bool)f;
}

static std::string read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

static std::vector<std::string> files_in(const std::string &dir)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (struct dirent *e = readdir(d))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Runs the tool in DIR/RUN (a copy of DIR's inputs) and answers its exit
// status; standard output, standard error and the records go beside it.
static int run_tool(const std::string &tool, const std::string &dir, const std::string &run,
                    const std::vector<std::string> &args, bool no_index)
{
    std::string at = dir + "/" + run;
    mkdir(at.c_str(), 0755);
    for (const std::string &name : files_in(dir))
        if (ends_with(name, ".xml"))
            write_file(at + "/" + name, read_file(dir + "/" + name));
    std::vector<std::string> words;
    std::istringstream emulator(getenv("XMLCFG_EMULATOR") ? getenv("XMLCFG_EMULATOR") : "");
    for (std::string w; emulator >> w;)
        words.push_back(w);
    words.push_back(tool);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        int out = open((at + ".stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open((at + ".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || chdir(at.c_str()) != 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(120);
        setenv("XMLCFG_RECORDS", (at + ".records").c_str(), 1);
        if (no_index)
            setenv("XMLCFG_NO_INDEX", "1", 1);
        else
            unsetenv("XMLCFG_NO_INDEX");
        execvp(argv[0], argv.data());
        _exit(121);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The attribute matching prints a node's address, which differs from run
// to run.
static std::string masked(std::string text)
{
    static const char mark[] = "pAttr:0x";
    for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at)) {
        at += sizeof mark - 1;
        size_t end = text.find_first_not_of("0123456789abcdefABCDEF", at);
        text.replace(at, (end == std::string::npos ? text.size() : end) - at, "(address)");
    }
    return text;
}

// First difference between the two runs of a mode, or "" when they agree.
static std::string compare_runs(const std::string &dir, int status_on, int status_off)
{
    if (status_on < 0 || status_on > 1 || status_off < 0 || status_off > 1)
        return "the tool did not end with 0 or 1: status " + std::to_string(status_on) + " and " +
               std::to_string(status_off);
    if (status_on != status_off)
        return "exit status " + std::to_string(status_on) + " with the index, " +
               std::to_string(status_off) + " without";
    for (const char *part : {".stdout", ".stderr", ".records"})
        if (masked(read_file(dir + "/on" + part)) != masked(read_file(dir + "/off" + part)))
            return std::string(part + 1) + " differs (on" + part + ", off" + part + ")";
    std::vector<std::string> on = files_in(dir + "/on"), off = files_in(dir + "/off");
    if (on != off)
        return "the runs leave different files";
    for (const std::string &name : on)
        if (read_file(dir + "/on/" + name) != read_file(dir + "/off/" + name))
            return "output file " + name + " differs";
    return "";
}

static void remove_tree(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        for (const std::string &name : files_in(path))
            remove_tree(path + "/" + name);
    remove(path.c_str());
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: index_on_off XMLCFG [COUNT [FIRST_SEED]]\n");
        return 2;
    }
    int count = argc > 2 ? atoi(argv[2]) : 300;
    int first = argc > 3 ? atoi(argv[3]) : 1;
    char tmpl[] = "/tmp/index_on_off.XXXXXX";
    if (!mkdtemp(tmpl)) {
        perror("mkdtemp");
        return 2;
    }
    std::string root = tmpl;
    char tool[4096];
    if (!realpath(argv[1], tool)) {  // the runs change folder
        perror(argv[1]);
        return 2;
    }
    int failures = 0, runs = 0;

    for (int seed = first; seed < first + count; seed++) {
        rng.seed((unsigned)seed);
        Flavor f;
        f.apostrophes = chance(12);
        f.slashes = chance(15);
        f.namespaces = chance(10);
        f.entity = chance(10);
        f.odd_content = chance(25);
        f.compact = chance(15);
        bool wide = seed % 4 == 3;
        Node old_cfg = make_config(wide, f), new_cfg = old_cfg, dev_cfg = old_cfg;
        mutate(new_cfg, false, f);
        mutate(dev_cfg, true, f);

        std::string dir = root + "/seed-" + std::to_string(seed);
        mkdir(dir.c_str(), 0755);
        bool kept = false;
        const std::string inputs[][2] = {{"old.xml", document(old_cfg, f)},
                                         {"new.xml", document(new_cfg, f)},
                                         {"dev.xml", document(dev_cfg, f)},
                                         {"list.xml", tag_list(old_cfg, new_cfg)}};
        const char *const names[] = {"merge", "delta", "cross"};
        const std::vector<std::vector<std::string>> modes = {
            seed % 3 == 2
                ? std::vector<std::string>{"-v", "2", "-p", "-s", "old.xml", "-n", "new.xml", "-d", "dev.xml"}
                : std::vector<std::string>{"-v", "2", "-s", "old.xml", "-n", "new.xml", "-d", "dev.xml"},
            {"-v", "2", "-m", "-s", seed % 2 ? "old.xml" : "dev.xml", "-n", "new.xml", "-x", "delta.txt"},
            {"-v", "2", "-c", "-s", "old.xml", "-n", "new.xml", "-t", "list.xml", "-d", "out.xml"}};
        for (size_t m = 0; m < modes.size(); m++) {
            std::string at = dir + "/" + names[m];
            mkdir(at.c_str(), 0755);
            for (const auto &input : inputs)
                write_file(at + "/" + input[0], input[1]);
            int on = run_tool(tool, at, "on", modes[m], false);
            int off = run_tool(tool, at, "off", modes[m], true);
            runs += 2;
            std::string diff = compare_runs(at, on, off);
            if (!diff.empty() && ++failures <= 5) {  // the first few are shown and kept
                fprintf(stderr, "seed %d, %s: %s; kept in %s\n", seed, names[m], diff.c_str(),
                        at.c_str());
                kept = true;
            }
        }
        if (!kept)
            remove_tree(dir);
    }
    if (failures > 5)
        fprintf(stderr, "... and %d more\n", failures - 5);
    if (failures == 0)
        remove_tree(root);
    printf("%d seeds, %d runs: %d passed, %d failed\n", count, runs, 3 * count - failures, failures);
    return failures ? 1 : 0;
}
