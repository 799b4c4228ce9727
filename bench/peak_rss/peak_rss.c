/* Runs a program and reports its peak resident set and page faults.
 *
 * Usage: bench-peak-rss <report file> <program> [arguments...]
 *
 * The program inherits this process's standard streams and environment.
 * When it ends, "<peak RSS in KiB> <minor page faults> <exit code>" is
 * written to the report file, and this process exits with the program's exit
 * code (128 + the signal when a signal ended it).
 *
 * Why a separate process: Linux carries the peak RSS of the address space
 * that calls exec into the new program's figure. A large harness that spawns
 * the program directly would report its own size; this small process stands
 * between them, so the figure is the program's own.
 */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 3) {
    fputs("usage: bench-peak-rss <report file> <program> [arguments...]\n",
          stderr);
    return 125;
  }
  pid_t pid = fork();
  if (pid < 0) {
    perror("bench-peak-rss: fork");
    return 125;
  }
  if (pid == 0) {
    execv(argv[2], argv + 2);
    perror("bench-peak-rss: exec");
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) < 0) {
    perror("bench-peak-rss: wait4");
    return 125;
  }
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  FILE* report = fopen(argv[1], "w");
  if (report == NULL) {
    perror("bench-peak-rss: report");
    return 125;
  }
  fprintf(report, "%ld %ld %d\n", usage.ru_maxrss, usage.ru_minflt, code);
  return fclose(report) == 0 ? code : 125;
}
