# What the storeset_world tests share, sourced with $d set: the state of a
# folder, a run as another user, and a run with one TMPDIR or another.

# Everything under $d: kind, mode, name, link target, and the bytes of each
# file.
state() {
    (cd "$d" && find . -printf '%y %m %p %l\n' | sort && find . -type f -print0 | sort -z | xargs -0 -r md5sum)
}

# Runs its arguments as a user other than root, to whom a file of mode 000
# cannot be read (root reads any file); as itself when not root.
asOther() {
    if [ "$(id -u)" = 0 ]; then
        setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
    else
        "$@"
    fi
}

# The TMPDIR kinds a run is tried with, none of which it may need (the
# other rows run with the TMPDIR the test was given): absent, a folder that
# does not exist; private, a folder of the test's user that no other user
# may enter; proc, /proc, where nobody may make anything.
TmpKinds="absent private proc"
# Makes the folders beside $d that the kinds name, afresh.
tmpSetUp() {
    rm -rf "$d.absent" "$d.private"
    mkdir -m 700 "$d.private"
}
# Sets tmpEnv to the arguments of env(1) that give a run the TMPDIR of the
# kind $1.
tmpFor() {
    case "$1" in
        unset) tmpEnv=(-u TMPDIR) ;;
        absent) tmpEnv=("TMPDIR=$d.absent") ;;
        private) tmpEnv=("TMPDIR=$d.private") ;;
        proc) tmpEnv=(TMPDIR=/proc) ;;
    esac
}
# True when nothing was made in the folders of the kinds.
tmpUntouched() {
    [ ! -e "$d.absent" ] && [ -z "$(ls -A "$d.private")" ]
}
