#include "report.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../cli/console.h"
#include "../xmldata/xmldata_target.h"

#include "../common/banned.h"

/* The report's folder and its temporary file, held while the run lasts. */
static XmldataTarget target = {-1, 0, {0}, NULL, 0, {}, EBADF, 0, 0};
static char tmp_name[XMLDATA_TARGET_PATH_MAX];
static int fd = -1;
static const char *report_path;
static int with_values = 1;
static const char *files[3];   /* O, N and D as named on the command line */

/* Lines are gathered here and written when it is full. */
static char buf[65536];
static size_t used;
static off_t written;        /* bytes in the file */
static int write_err;        /* errno of the first failed write, 0 */

/* The summary last synced: where it starts, and what it said. */
static off_t summary_at = -1;
static int summary_status;
static int summary_saved;
static char summary_error[1024];

/* Length of the UTF-8 sequence at in (len bytes left), or 0 when it is
 * none; *cp becomes its code point. */
static size_t utf8_char(const unsigned char *in, size_t len, unsigned long *cp)
{
    unsigned long c = in[0];
    size_t n;
    size_t i;

    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        c &= 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        c &= 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        c &= 0x07;
    } else {
        return 0;
    }
    if (len < n)
        return 0;
    for (i = 1; i < n; i++) {
        if ((in[i] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (in[i] & 0x3F);
    }
    /* Overlong forms, surrogates and past U+10FFFF are no characters. */
    if ((n == 3 && c < 0x800) || (n == 4 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    *cp = c;
    return n;
}

size_t json_escape(const char *in, size_t len, size_t *used_in, char *out, size_t room)
{
    static const char hex[] = "0123456789abcdef";
    const unsigned char *s = reinterpret_cast<const unsigned char *>(in);
    size_t i = 0;
    size_t o = 0;

    while (i < len) {
        unsigned long cp = 0;
        size_t n = utf8_char(s + i, len - i, &cp);
        char esc[6];
        size_t esc_len = 0;

        if (n == 0) {
            cp = 0xFFFD;   /* not UTF-8: stands for the byte */
            n = 1;
        }
        switch (cp) {
        case '"': esc_len = 2; esc[0] = '\\'; esc[1] = '"'; break;
        case '\\': esc_len = 2; esc[0] = '\\'; esc[1] = '\\'; break;
        case '\b': esc_len = 2; esc[0] = '\\'; esc[1] = 'b'; break;
        case '\f': esc_len = 2; esc[0] = '\\'; esc[1] = 'f'; break;
        case '\n': esc_len = 2; esc[0] = '\\'; esc[1] = 'n'; break;
        case '\r': esc_len = 2; esc[0] = '\\'; esc[1] = 'r'; break;
        case '\t': esc_len = 2; esc[0] = '\\'; esc[1] = 't'; break;
        default:
            if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 || cp == 0xFFFD) {
                esc_len = 6;
                esc[0] = '\\';
                esc[1] = 'u';
                esc[2] = hex[(cp >> 12) & 0xF];
                esc[3] = hex[(cp >> 8) & 0xF];
                esc[4] = hex[(cp >> 4) & 0xF];
                esc[5] = hex[cp & 0xF];
            }
            break;
        }
        if (esc_len == 0) {
            /* The character as it is. */
            if (room - o < n)
                break;
            memcpy(out + o, s + i, n);
            o += n;
        } else {
            if (room - o < esc_len)
                break;
            memcpy(out + o, esc, esc_len);
            o += esc_len;
        }
        i += n;
    }
    *used_in = i;
    return o;
}

/* Writes what buf holds. */
static void flush_buf(void)
{
    size_t off = 0;

    while (off < used && write_err == 0) {
        ssize_t n = write(fd, buf + off, used - off);

        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            write_err = n < 0 ? errno : EIO;
            break;
        }
        off += (size_t)n;
        written += n;
    }
    used = 0;
}

static void put(const char *s, size_t len)
{
    while (len > 0) {
        size_t n;

        if (used == sizeof buf)
            flush_buf();
        n = sizeof buf - used < len ? sizeof buf - used : len;
        memcpy(buf + used, s, n);
        used += n;
        s += n;
        len -= n;
    }
}

static void put_text(const char *s)
{
    put(s, strlen(s));
}

/* A JSON string, or null for no value. */
static void put_string(const char *s)
{
    size_t len;

    if (!s) {
        put_text("null");
        return;
    }
    len = strlen(s);
    put_text("\"");
    while (len > 0) {
        size_t taken;

        if (sizeof buf - used < 6)
            flush_buf();
        used += json_escape(s, len, &taken, buf + used, sizeof buf - used);
        s += taken;
        len -= taken;
    }
    put_text("\"");
}

static void put_number(long long value)
{
    char text[32];
    int n = snprintf(text, sizeof text, "%lld", value);

    if (n > 0 && (size_t)n < sizeof text)
        put(text, (size_t)n);
}

/* A value's length in bytes, or null for no value. */
static void put_length(const char *key, const char *value)
{
    put_text(", \"");
    put_text(key);
    put_text("\": ");
    if (value)
        put_number((long long)strlen(value));
    else
        put_text("null");
}

/* A field of a decision: its value, or null when values are left out. */
static void put_value(const char *key, const char *value)
{
    put_text(", \"");
    put_text(key);
    put_text("\": ");
    put_string(with_values ? value : NULL);
}

int merge_report_open(const char *path, int values, const char *o_file, const char *n_file, const char *d_file)
{
    struct stat st;
    int err;

    report_path = path;
    with_values = values;
    files[0] = o_file;
    files[1] = n_file;
    files[2] = d_file;
    used = 0;
    written = 0;
    write_err = 0;
    summary_at = -1;
    /* A device, a FIFO or a link is never written or replaced. */
    if (lstat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        console_log(0, "%s: ###Error cannot write the report %s: not a regular file\n", __func__, path);
        return 1;
    }
    if (xmldata_target_hold(&target, path) != 0 || strcmp(target.path, path) != 0) {
        err = target.dir >= 0 ? ELOOP : errno;
        xmldata_target_release(&target);
        console_log(0, "%s: ###Error cannot write the report %s: %s\n", __func__, path, xml_save_error_text(err));
        return 1;
    }
    target.mode = 0600;
    xmldata_target_clear_leftovers(&target);
    fd = xmldata_target_create(&target, tmp_name, sizeof tmp_name);
    if (fd < 0) {
        err = errno;
        xmldata_target_release(&target);
        console_log(0, "%s: ###Error cannot write the report %s: %s\n", __func__, path, xml_save_error_text(err));
        return 1;
    }
    return 0;
}

int merge_report_is_open(void)
{
    return fd >= 0;
}

void merge_report_decision(enum MergeDecision kind, const struct MergeSetting *s)
{
    if (fd < 0)
        return;
    put_text("{\"decision\": \"");
    put_text(merge_decision_name(kind));
    put_text("\", \"xpath\": ");
    put_string(s->xpath);
    put_value("o", s->o);
    put_value("n", s->n);
    put_value("d", s->d);
    put_value("result", s->result);
    if (s->winner) {
        put_text(", \"winner\": \"");
        put_text(s->winner);
        put_text("\"");
    }
    if (!with_values) {
        put_length("o_len", s->o);
        put_length("n_len", s->n);
        put_length("d_len", s->d);
        put_length("result_len", s->result);
    }
    put_text("}\n");
}

/* Writes the summary line at the end of the decisions, in place of one
 * written before, and syncs the file. */
static int write_summary(int status, int saved)
{
    const char *error = console_first_error();
    int i;

    flush_buf();
    if (summary_at >= 0 && write_err == 0) {
        if (ftruncate(fd, summary_at) != 0 || lseek(fd, summary_at, SEEK_SET) < 0)
            write_err = errno;
        written = summary_at;
    }
    summary_at = written;
    put_text("{\"summary\": true, \"format_version\": 1");
    put_text(", \"o\": ");
    put_string(files[0]);
    put_text(", \"n\": ");
    put_string(files[1]);
    put_text(", \"d\": ");
    put_string(files[2]);
    put_text(", \"status\": ");
    put_number(status);
    put_text(saved ? ", \"saved\": true" : ", \"saved\": false");
    put_text(", \"counts\": {");
    for (i = 0; i < MERGE_DECISION_KINDS; i++) {
        put_text(i ? ", \"" : "\"");
        put_text(merge_decision_name((enum MergeDecision)i));
        put_text("\": ");
        put_number(merge_tally_count((enum MergeDecision)i));
    }
    put_text("}, \"error\": ");
    put_string(error[0] != '\0' ? error : NULL);
    put_text("}\n");
    flush_buf();
    if (write_err == 0 && fsync(fd) != 0)
        write_err = errno;
    summary_status = status;
    summary_saved = saved;
    snprintf(summary_error, sizeof summary_error, "%s", error);
    if (write_err != 0) {
        console_log(0, "%s: ###Error cannot write the report %s: %s\n", __func__, report_path,
                    xml_save_error_text(write_err));
        return 1;
    }
    return 0;
}

int merge_report_sync(int status, int saved)
{
    if (fd < 0)
        return 0;
    return write_summary(status, saved);
}

int merge_report_close(int status)
{
    int replaced = 0;
    int failed = 0;
    int err = 0;

    if (fd < 0)
        return 0;
    /* A report that could not be written has said so already. */
    if (write_err != 0 && summary_at >= 0)
        failed = 1;
    else if (summary_at < 0 || status != summary_status || strcmp(summary_error, console_first_error()) != 0)
        failed = write_summary(status, summary_at < 0 ? 0 : summary_saved);
    if (!failed && xmldata_target_commit(&target, fd, tmp_name, &replaced) != 0) {
        err = errno;
        failed = 1;
        if (replaced)
            console_log(0, "%s: ###Error the report %s is in place, but its folder could not be flushed: %s\n",
                        __func__, report_path, xml_save_error_text(err));
        else
            console_log(0, "%s: ###Error cannot put the report %s in place: %s\n", __func__, report_path,
                        xml_save_error_text(err));
    }
    close(fd);
    fd = -1;
    if (!replaced)
        xmldata_target_discard(&target, -1, tmp_name);
    tmp_name[0] = '\0';
    xmldata_target_release(&target);
    return failed;
}
