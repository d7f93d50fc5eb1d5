# What the checks' self-tests share: a scratch folder removed on exit, a copy of the tree to
# inject faults into, the judgement of one run of a check, and the tally of outcomes with its
# verdict. Sourced by a self-test once it has set `root` (the repository) and `name` (its own).
# shellcheck shell=bash disable=SC2154

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
runs=0
failures=0

# Copies the tree as it is now (tracked and new files, no build folders) to $work/tree, with the
# installed npm packages linked in, and sets `tree` to it.
copy_tree() {
  tree=$work/tree
  mkdir -p "$tree"
  (cd "$root" && git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$tree") ||
    {
      echo "$name: FAILED: could not copy the tree"
      exit 1
    }
  [[ -d $root/node_modules ]] && ln -s "$root/node_modules" "$tree/node_modules"
  return 0
}

# met STATUS OUTPUT WANTED [GREP-OPTION...]: whether a run of a check is the outcome wanted. An
# empty WANTED asks for a pass; otherwise the check must fail and print a line matching WANTED
# (an extended regular expression, unless other grep options are given).
met() {
  local status=$1 output=$2 wanted=$3
  shift 3
  if [[ -z $wanted ]]; then
    ((status == 0))
  else
    ((status != 0)) && grep -q "${@:--E}" -- "$wanted" <<<"$output"
  fi
}

# pass TEXT: counts an outcome as wanted.
pass() {
  runs=$((runs + 1))
  echo "ok: $1"
}

# unexpected TEXT [OUTPUT]: counts an outcome that differs, with the end of the check's output.
unexpected() {
  runs=$((runs + 1))
  failures=$((failures + 1))
  echo "UNEXPECTED: $1"
  [[ -n ${2:-} ]] && tail -n 20 <<<"$2"
  return 0
}

# finish: the verdict over every outcome counted; exits non-zero when any differs.
finish() {
  if ((failures)); then
    echo "$name: FAILED: $failures of $runs outcomes differ"
    exit 1
  fi
  echo "$name: passed: $runs outcomes"
  exit 0
}
