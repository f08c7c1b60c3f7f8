/*
 * What the libFuzzer targets share: one fuzz input split into the files of
 * a run, a private temporary folder for them, and the reset of the
 * process-wide state that a single run of the tool leaves behind.
 *
 * An input is split at NUL bytes, which a well-formed XML file never holds:
 * part 0 is the bytes before the first NUL, part 1 those up to the second,
 * and so on; the last part the target asks for takes all the rest.
 */
#ifndef XMLCFG_FUZZ_H
#define XMLCFG_FUZZ_H

#include <stddef.h>
#include <stdint.h>

#define FUZZ_MAX_PARTS 4
#define FUZZ_PATH_SIZE 512

typedef struct FuzzParts {
    const char *data[FUZZ_MAX_PARTS];   /* into the input; not terminated */
    size_t size[FUZZ_MAX_PARTS];
    int present;                         /* parts that the input holds */
} FuzzParts;

/* Splits data into count (at most FUZZ_MAX_PARTS) parts; missing ones are empty. */
void fuzz_split(const uint8_t *data, size_t size, int count, FuzzParts *parts);

/*
 * Sets up the run: silences the console, resets the walk's state, and
 * makes the per-process folder (under TMPDIR, or /tmp) on the first call.
 * 0, or -1 when no folder could be made.
 */
int fuzz_begin(int delta);

/* Writes part i of parts into the folder as name; its path goes to path
 * (FUZZ_PATH_SIZE bytes).  0, or -1 on failure. */
int fuzz_write_part(const FuzzParts *parts, int i, const char *name, char *path);

/* Names a file of the folder without creating it. */
int fuzz_path(const char *name, char *path);

/*
 * Checks on what a run left behind; each prints what went wrong and
 * aborts, so that libFuzzer keeps the input.
 *   fuzz_expect_same: the file at path holds exactly part i
 *   fuzz_expect_parses: the file at path, when it exists, is well formed
 *   fuzz_expect_delta_lines: the file at path, when it exists and is not
 *     empty, starts with MOD=, DEL= or ADD= and a path and ends with a
 *     line feed
 */
void fuzz_expect_same(const char *path, const FuzzParts *parts, int i);
void fuzz_expect_parses(const char *path);
void fuzz_expect_delta_lines(const char *path);

/*
 * Merges part i with itself as O, N and D: the merge must succeed, without
 * a word from the XML library, and save exactly what the library saves of
 * that document as the merge loads it (references to entities that stand
 * for elements written out).  Parts that the library does not read without
 * an error or warning are passed over; a merge that stops at a documented
 * limit (a path over 1,023 bytes, an expansion over the bound, an encoding
 * that cannot be read back, a position search past the siblings, a save
 * refused) is no fault.
 */
void fuzz_expect_self_merge(const FuzzParts *parts, int i);

/* Removes every file the run left in the folder. */
void fuzz_end(void);

/*
 * Empties the walk's maps, releases current_tag, restores keep_local_tags,
 * the delta state and xml_lib_error to their start values, so that every
 * run starts as a fresh process would.
 */
void fuzz_reset_run_state(void);

#endif
