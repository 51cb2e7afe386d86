#!/bin/bash
# norvfilter from the outside: both forms, the exit statuses and the error
# texts on standard error. $1 is the program.
set -u
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# expect NAME STATUS EXPECTED-STDOUT EXPECTED-STDERR-SUBSTRING -- ARGS... (stdin from $work/in)
expect() {
  local name=$1 status=$2 out=$3 err=$4
  shift 5
  "$tool" "$@" <"$work/in" >"$work/out" 2>"$work/err"
  local got=$?
  if [[ $got != "$status" || "$(cat "$work/out")" != "$out" ||
     ( -n $err && ! $(grep -cF -- "$err" "$work/err") -gt 0 ) ]]; then
    echo "FAIL $name: status $got, stdout:"; cat "$work/out"; echo "stderr:"; cat "$work/err"
    failures=$((failures + 1))
  fi
}

printf 'abc\na\nba\nABC\nr\xc3\xa9sum\xc3\xa9.txt\r\n' >"$work/in"
expect wildcard 0 $'abc\na' '' -- -m 0 'a*'
expect excluding 0 $'ba\nABC\nr\xc3\xa9sum\xc3\xa9.txt\r' '' -- -m 1 'a*'
# UTF-8 is read as characters; the line end (also \r\n) is not part of the cell.
expect utf8 0 $'r\xc3\xa9sum\xc3\xa9.txt\r' '' -- -m 0 'r?sum?.txt'
expect regexp 0 $'abc\nba' '' -- -m 2 'b'
expect anchored 0 'ABC' '' -- -m 2 '^A.C$'
expect none 1 '' '' -- -m 2 'zzz'
expect bad-pattern 2 '' 'norvfilter: nested *?+' -- -m 2 'a**'
expect bad-set 2 '' 'unmatched []' -- -m 2 '[ab'
expect bad-mode 2 '' 'mode must be 0, 1 or 2' -- -m 3 'x'
expect usage 2 '' 'usage: norvfilter' -- -x
expect missing 2 '' 'missing operand' -- -m 2

printf 'report.txt\t120\nnotes.doc\t7\nreadme\t\nold.txt\tx9\n' >"$work/in"
expect columns 0 $'report.txt\t120' '' -- -f '$0,1,0,"*.txt" $1,1,2,"^[0-9]+$" '
expect disabled 0 $'report.txt\t120\nold.txt\tx9' '' -- -f '$0,1,0,"*.txt" $1,0,2,"^[0-9]+$" '
expect quotes 1 '' '' -- -f '$0,1,2,"\"" '
expect file 0 $'notes.doc\t7' '' -- -f '$0,1,1,"*.txt" $1,1,2,"." ' "$work/in"
expect broken 2 '' 'breaks off in the record at character 15' -- -f '$0,1,0,"*.txt" $1,1,2,"x'
expect bad-regexp 2 '' 'column 1: unmatched ()' -- -f '$1,1,2,"(x" '
expect no-file 2 '' "$work/absent" -- -f '' "$work/absent"

if ((failures)); then echo "$failures case(s) failed"; exit 1; fi
echo "all cases passed"
