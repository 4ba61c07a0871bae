#pragma once
// Process lookup in /proc.

// The id of a running process whose command name (the text between the
// first "(" and the last ")" of /proc/<pid>/stat) equals `name` exactly, or
// -1; a zombie does not run. A `pid` above 0 (the id found the time before)
// is tried first; otherwise, or when it no longer matches, /proc is scanned
// in directory order.
int find_proc_by_name(const char* name, int pid);
