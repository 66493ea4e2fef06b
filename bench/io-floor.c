/* The I/O limit of a conversion, for bench/run: reads the old spare file
 * twice, in blocks of 256 KiB as tabfold does, and writes as many bytes as
 * the new spare file holds, without looking at any of them.
 *
 *   io-floor OLD NEW SIZE
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { kBlock = 256 * 1024 };

static char block[kBlock];

/* Reads the file at path from start to end; 0, or -1 on a failure. */
static int readWhole(const char *path)
{
    int fd = open(path, O_RDONLY);
    ssize_t got = 1;
    if (fd < 0)
        return -1;
    while (got > 0)
        got = read(fd, block, kBlock);
    close(fd);
    return got < 0 ? -1 : 0;
}

int main(int argc, char *argv[])
{
    long long size, done;
    int out;
    if (argc != 4) {
        fprintf(stderr, "usage: io-floor OLD NEW SIZE\n");
        return 2;
    }
    size = atoll(argv[3]);
    out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0 || readWhole(argv[1]) != 0)
        return 1;
    memset(block, ' ', kBlock);
    for (done = 0; done < size;) {
        size_t chunk = size - done < kBlock ? (size_t)(size - done) : kBlock;
        ssize_t put = write(out, block, chunk);
        if (put <= 0)
            return 1;
        done += put;
    }
    return readWhole(argv[1]) != 0 || close(out) != 0;
}
