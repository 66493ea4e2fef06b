/* The conversion as a plain C program would write it straight from the file
 * formats, for bench/run to compare with: lines read with fgets (limit 255),
 * integers scanned with sscanf "%ld" and clamped to 32 bits, a field that no
 * line has supplied written as 0, record lines printed with "%-3d %-3d %d\n",
 * and the old spare file read twice, closed and opened again in between.
 *
 *   reference spare2in1lineFile spare1in1lineFile
 */
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

static int clamped(long value)
{
    return value < INT_MIN ? INT_MIN : value > INT_MAX ? INT_MAX : (int)value;
}

/* Opens a file or ends the run as the real program does. */
static FILE *openOrExit(const char *path, const char *mode)
{
    FILE *file = fopen(path, mode);
    if (file == NULL) {
        printf("can not open %s\n", path);
        exit(5);
    }
    return file;
}

/* One pass: the record lines of the first (right == 0) or the second record
 * of every data line. */
static void copyRecords(const char *oldPath, FILE *out, int right)
{
    FILE *in = openOrExit(oldPath, "r");
    char line[256];
    long record[3] = {0, 0, 0};
    long dropped[3];
    if (fgets(line, 255, in) != NULL)
        (void)fgets(line, 255, in);
    while (fgets(line, 255, in) != NULL) {
        if (right)
            sscanf(line, "%ld %ld %ld %ld %ld %ld", &dropped[0], &dropped[1], &dropped[2],
                   &record[0], &record[1], &record[2]);
        else
            sscanf(line, "%ld %ld %ld", &record[0], &record[1], &record[2]);
        fprintf(out, "%-3d %-3d %d\n", clamped(record[0]), clamped(record[1]), clamped(record[2]));
    }
    fclose(in);
}

int main(int argc, char *argv[])
{
    if (argc != 3) {
        printf("command syntax: tabfold spare2in1lineFile spare1in1lineFile \n");
        return 1;
    }
    printf("old spare file is %s\n", argv[1]);
    printf("new spare file is %s\n", argv[2]);
    fflush(stdout);
    FILE *out = openOrExit(argv[2], "w");
    fputs("        DS3\nN1  N2  LINK#\n", out);
    copyRecords(argv[1], out, 0);
    copyRecords(argv[1], out, 1);
    return fclose(out) == 0 ? 0 : 1;
}
