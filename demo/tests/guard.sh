# What the storeset_world tests share, sourced with $d set: the state of a
# folder, and a run as another user.

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
