/*
 * The merge's report (-r): JSON Lines, one object per line.  One line per
 * decision, in the order the merge made them, then one summary line with
 * the files, the status, whether the result was saved, the count of every
 * kind of decision and the run's first error line.
 *
 * The report is written to a temporary file in its own held folder.  The
 * merge syncs it, summary included, before it saves its result; when that
 * save fails the summary is rewritten; the report is renamed into place
 * last, with mode 0600: values may be secrets (Wi-Fi keys are values too).
 */
#ifndef XMLCFG_MERGE_REPORT_H
#define XMLCFG_MERGE_REPORT_H

#include <stddef.h>

#include "tally.h"

/* One decided setting: NULL where that file has none. */
struct MergeSetting {
    const char *xpath;    /* D's path, N's where D has none */
    const char *o;
    const char *n;        /* N's value before the merge changed it */
    const char *d;
    const char *result;   /* what the merged document holds */
    const char *winner;   /* both_changed only: "device", "release" or "none" */
};

/*
 * Opens the report at path for a merge of the files named (shown in the
 * summary): its folder held, a temporary file created.  with_values 0
 * (--report-values=none) writes null for every value and its length beside
 * it.  0, or 1 after an error line.
 */
int merge_report_open(const char *path, int with_values, const char *o_file, const char *n_file,
                      const char *d_file);
int merge_report_is_open(void);

/* Writes a decision's line; a failure to write is kept for the summary. */
void merge_report_decision(enum MergeDecision kind, const struct MergeSetting *s);

/*
 * Writes the summary line, or rewrites it in place of the one written
 * before, with the counts so far and the run's first error line, and
 * syncs the file.  0, or 1 after an error line: the report cannot be
 * written.  Does nothing (0) without an open report.
 */
int merge_report_sync(int status, int saved);

/*
 * Ends the report: the summary rewritten when the final status differs
 * from the one synced (or none was), then renamed into place.  0, or 1
 * after an error line; the temporary file is then removed and any report
 * of an earlier run at path is left as it was.  Does nothing (0) without
 * an open report.
 */
int merge_report_close(int status);

/*
 * The inside of a JSON string for the UTF-8 text in[0..len): quotation
 * mark and backslash escaped, control characters (U+0000-U+001F and
 * U+007F-U+009F) and U+2028, U+2029 as \uXXXX (\t, \n, \r and the like
 * by their short forms); every other character as it is, outside the BMP
 * included.  A byte that begins no valid UTF-8 sequence becomes \ufffd.
 * Writes whole characters while they fit into out (room bytes, no NUL),
 * sets *used to the input bytes taken and returns the bytes written: a
 * caller with at least 6 bytes of room always gets on.
 */
size_t json_escape(const char *in, size_t len, size_t *used, char *out, size_t room);

#endif
