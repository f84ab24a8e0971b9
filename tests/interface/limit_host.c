/* A host in C that makes one call of a library under a limit of its address
 * space, for the memory-limit test (memory_limits_test.cpp):
 *
 *   limit_host LIBRARY CALL DIM EXTRA HEAP [TEXT]
 *
 * It loads LIBRARY, makes the call's arguments (TEXT is a file holding the
 * record-set text), limits its address space (RLIMIT_AS) to what it uses then
 * plus EXTRA bytes, with HEAP "used-up" allocates small blocks until none is
 * left, and makes the call; nothing of the library runs before that but what
 * runs when it is loaded. It writes one line about the call to descriptor 3:
 *   succeeded            the call wrote its output and reported no error
 *   failed REASON        the call wrote nothing and reported REASON
 *   fault WHAT           anything else
 * and exits 0; any other ending means the call ended the process.
 *
 * CALL is an export of libpel_arm64 (encode_vector, decode_vector, encode,
 * decode, free_output_buffer, last_error_message, main) or of the earlier
 * libraries (earlier_encode, earlier_decode, main).
 */
#include <dlfcn.h>
#include <malloc.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

static const char *const kKey = "7e41c09b2d5fa38816cb0e4f9a27d563";
static const double kJunk = -12345.6789;

typedef void (*VectorCall)(const char *, const char *, int, int, const double *, double *);
typedef void (*EncodeRecords)(const char *, const char *, int, int, const char *, char **);
typedef void (*DecodeRecords)(const char *, const char *, int, int, const double *, const char *, char **);
typedef void (*EarlierCall)(const char *, const double *, int, double *);
typedef void (*Release)(char *);
typedef const char *(*LastError)(void);
typedef int (*Driver)(void);

static char g_line[1024];
static void *volatile used_up; /* the chain of blocks that used up the heap */

/* The report, written without allocating. */
static void say(const char *kind, const char *detail) {
    size_t n = (size_t)snprintf(g_line, sizeof g_line, "%s%s%s\n", kind, detail[0] ? " " : "", detail);
    if (n >= sizeof g_line) n = sizeof g_line - 1;
    if (write(3, g_line, n) != (ssize_t)n) _exit(9);
    _exit(0);
}

static void *symbol(void *library, const char *name) {
    void *s = dlsym(library, name);
    if (s == NULL) {
        fprintf(stderr, "no symbol %s\n", name);
        exit(3);
    }
    return s;
}

static char *read_file(const char *path) {
    FILE *f = fopen(path, "rb");
    long size;
    char *text;
    if (f == NULL || fseek(f, 0, SEEK_END) != 0 || (size = ftell(f)) < 0 || fseek(f, 0, SEEK_SET) != 0) exit(4);
    text = malloc((size_t)size + 1);
    if (text == NULL || fread(text, 1, (size_t)size, f) != (size_t)size) exit(4);
    text[size] = '\0';
    fclose(f);
    return text;
}

static size_t address_space_in_use(void) {
    FILE *f = fopen("/proc/self/statm", "r");
    unsigned long pages = 0;
    if (f == NULL || fscanf(f, "%lu", &pages) != 1) exit(5);
    fclose(f);
    return (size_t)pages * (size_t)sysconf(_SC_PAGESIZE);
}

/* A host's stack has long been grown by the time it calls; a stack that had
 * to grow under the limit would end the process by SIGSEGV whatever the
 * library did. */
static void __attribute__((noinline)) grow_stack(void) {
    volatile char room[512 * 1024];
    size_t i;
    for (i = 0; i < sizeof room; i += 4096) room[i] = 0;
}

/* Outcome of a call that returned: `error` is last_error_message() after it. */
static void judge(const char *error, int wrote, int untouched) {
    if (error == NULL) {
        if (wrote) say("succeeded", "");
        say("fault", "succeeded without its output");
    }
    if (!untouched) say("fault", "failed, and wrote its output");
    if (error[0] == '\0') say("fault", "failed without a reason");
    say("failed", error);
}

int main(int argc, char **argv) {
    const char *call;
    int dim, i;
    size_t extra, limit;
    void *library, *function = NULL;
    LastError last_error;
    double *input, *output;
    char *text = NULL, *out, *buffer = NULL;
    static char sentinel;
    struct rlimit r;

    if (argc < 6) {
        fprintf(stderr, "usage: limit_host LIBRARY CALL DIM EXTRA HEAP [TEXT]\n");
        return 2;
    }
    call = argv[2];
    dim = atoi(argv[3]);
    extra = (size_t)strtoull(argv[4], NULL, 10);
    library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 6;
    }
    last_error = (LastError)symbol(library, "last_error_message");
    if (strcmp(call, "last_error_message") != 0) {
        function = symbol(library, strncmp(call, "earlier_", 8) == 0 ? call + 8 : call);
    }
    input = malloc((size_t)dim * sizeof *input);
    output = malloc((size_t)dim * sizeof *output);
    if (input == NULL || output == NULL) return 4;
    for (i = 0; i < dim; ++i) {
        input[i] = sin(0.37 * (i + 1)) + 0.25;
        output[i] = kJunk;
    }
    if (argc > 6) text = read_file(argv[6]);
    if (strcmp(call, "free_output_buffer") == 0) {
        ((EncodeRecords)symbol(library, "encode"))(kKey, "L2", 1, dim, "[]", &buffer);
        if (buffer == NULL) return 7;
    }

    grow_stack();
    /* What the heap holds free would serve the call beyond any limit. */
    malloc_trim(0);
    limit = address_space_in_use() + extra;
    r.rlim_cur = limit;
    r.rlim_max = RLIM_INFINITY;
    if (setrlimit(RLIMIT_AS, &r) != 0) return 8;
    if (strcmp(argv[5], "used-up") == 0) {
        /* Chained, so that no compiler takes the blocks for unused ones. */
        void **block, *chain = NULL;
        while ((block = malloc(16)) != NULL) {
            *block = chain;
            chain = block;
        }
        used_up = chain;
    }

    if (strcmp(call, "encode_vector") == 0 || strcmp(call, "decode_vector") == 0 ||
        strcmp(call, "earlier_encode") == 0 || strcmp(call, "earlier_decode") == 0) {
        int all_junk = 1, any_junk = 0;
        if (strncmp(call, "earlier_", 8) == 0) {
            ((EarlierCall)function)(kKey, input, dim, output);
        } else {
            ((VectorCall)function)(kKey, "COSINE", 2, dim, input, output);
        }
        for (i = 0; i < dim; ++i) {
            all_junk = all_junk && output[i] == kJunk;
            any_junk = any_junk || output[i] == kJunk;
        }
        judge(last_error(), !any_junk, all_junk);
    } else if (strcmp(call, "encode") == 0 || strcmp(call, "decode") == 0) {
        out = &sentinel;
        if (call[0] == 'e') {
            ((EncodeRecords)function)(kKey, "L2", 1, dim, text, &out);
        } else {
            ((DecodeRecords)function)(kKey, "L2", 1, dim, input, text, &out);
        }
        judge(last_error(), out != &sentinel && out != NULL && out[0] == '[', out == &sentinel);
    } else if (strcmp(call, "free_output_buffer") == 0) {
        ((Release)function)(buffer);
        judge(last_error(), 1, 1);
    } else if (strcmp(call, "last_error_message") == 0) {
        if (last_error() != NULL) say("fault", "an error before any call");
        say("succeeded", "");
    } else if (strcmp(call, "main") == 0) {
        const int status = ((Driver)function)();
        const char *error = last_error();
        if ((status == 0) != (error == NULL)) say("fault", "the status and the last error disagree");
        judge(error, status == 0, 1);
    }
    say("fault", "no such call");
    return 0;
}
