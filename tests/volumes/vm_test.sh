#!/bin/bash
# vm_test.sh RIVAK WORKDIR: rivak for Linux on the Windows volumes of a real
# Linux kernel. Debian's 6.12 kernel (fetched with apt-get download into
# WORKDIR) boots under QEMU with a busybox initramfs, mounts this machine's
# root read-only over 9p and runs this script again inside it (--guest) in a
# chroot, on a FAT, an exFAT and an NTFS image attached as virtio disks and on
# a share of an smbd of its own, mounted with mount.cifs.
# vm_test.sh RIVAK WORKDIR SCRIPT [FILE...]: the same machine runs SCRIPT
# --guest RIVAK instead, next to the FILEs (in /run/rivak-test), and what it
# prints is the result (the benchmarks). $RIVAK_VM_TIMEOUT: seconds (900).
# Sourced with --source, it only defines the guest's functions.
#
# Each row of the table below is an entry made on one volume with a starting
# word set by a tool that is not rivak; rivak runs with the row's options on
# the mounted entry (on its first folder for an entry in a folder, so that
# rivak walks to it), saving what it changes (--save); then a reader that
# does not go through the driver rivak used reads the word again: mattrib
# (mtools) and ntfsinfo read the unmounted device, vm_tools.py reads exFAT's
# directory entries, smbclient asks the share. The saves are then restored
# (the last first) on the volume mounted again, and the readers must find the
# starting words; but FAT and exFAT make up inode numbers anew at each mount,
# so there every saved entry is another file now and must be left alone, and
# a save and restore within that mount (all cleared, system too) must leave
# the words as they were.
# Exit 77 (skipped) where the machine cannot run it, with the reason.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# A read-only folder holding desktop.ini (in any case) keeps its read-only bit.
# fs     entry (/ = folder)  before      options                          after       exit
table='
vfat     worm/               0x16        -                                0x14        0
vfat     doc.txt             0x23        -                                0x20        0
vfat     sys.txt             0x27        -                                0x27        0
vfat     new.txt             0x20        --readonly=set,--hidden=set      0x23        0
vfat     keep.txt            0x23        --readonly=keep                  0x21        0
vfat     /                   0x10        --hidden=set,--max-depth=0       0x10        1
vfat     box/in.txt          0x23        -                                0x20        0
vfat     Docs/               0x13        -                                0x11        0
vfat     Docs/Desktop.ini    0x26        -                                0x26        0
vfat     attrib.txt          0x21        +h                               0x23        0
exfat    worm/               0x16        -                                0x14        0
exfat    doc.txt             0x23        -                                0x20        0
exfat    new.txt             0x20        --readonly=set,--hidden=set      0x23        0
exfat    box/in.txt          0x23        -                                0x20        0
ntfs3    worm/               0x10000016  -                                0x10000014  0
ntfs3    doc.txt             0x2023      -                                0x2020      0
ntfs3    new.txt             0x20        --readonly=set,--hidden=set      0x23        0
ntfs3    box/in.txt          0x23        -                                0x20        0
ntfs3    Docs/               0x10000013  -                                0x10000011  0
ntfs3    Docs/Desktop.ini    0x26        -                                0x26        0
cifs     worm/               0x16        -                                0x14        0
cifs     doc.txt             0x23        -                                0x20        0
cifs     hidden.txt          0x2         -                                0x80        0
cifs     new.txt             0x20        --readonly=set,--hidden=set      0x23        0
cifs     box/in.txt          0x23        -                                0x20        0
cifs     Docs/               0x13        -                                0x11        0
cifs     Docs/Desktop.ini    0x26        -                                0x26        0
cifs     attrib.txt          0x21        -r,+H                            0x22        0
'
rows() { grep -v '^$' <<<"$table" | awk -v fs="$1" '$1 == fs'; }

# ---- in the guest ------------------------------------------------------------
smb() { smbclient //127.0.0.1/share -N -s /tmp/smb.conf -c "$1" 2>/dev/null; }

# words FS DEVICE: the word of each row's entry on FS, one a line in the
# table's order, read without the driver rivak uses ("?" where unreadable).
words() {
  local entry out w cmds=""
  while read -r _ entry _; do
    w=0
    [[ $entry == */ ]] && w=16
    [[ $entry == / ]] || entry=${entry%/}
    case $1 in
    exfat) cmds+=" $entry" ;;
    cifs) cmds+="allinfo $entry;" ;;
    vfat)
      out=$(mattrib -i "$2" "::/${entry#/}") || { echo "?"; continue; }
      out=${out%%::*}
      for b in R:1 H:2 S:4 A:32; do [[ $out == *${b%:*}* ]] && w=$((w | ${b#*:})); done
      printf '0x%x\n' $w ;;
    ntfs3)
      out=$(ntfsinfo -t -F "/$entry" "$2" 2>/dev/null | grep -m1 'File attributes:')
      [[ $out =~ \((0x[0-9a-f]+)\) ]] && printf '0x%x\n' "${BASH_REMATCH[1]}" || echo "?" ;;
    esac
  done < <(rows "$1")
  [[ $1 == exfat ]] && python3 "$here/vm_tools.py" exfat "$2" $cmds | awk '{print $2}'
  [[ $1 == cifs ]] && smb "$cmds" | sed -nE 's/^attributes:.*\(([0-9a-f]+)\)/0x\1/p'
}
read_words() { paste -d' ' <(rows "$1" | awk '{print $2}') <(words "$@"); }  # "ENTRY WORD" lines

# set_words FS DEVICE: the rows' starting words, by tools other than rivak.
set_words() {
  local entry before flags cmds="" sets=()
  while read -r _ entry before _; do
    [[ $entry == / ]] && continue  # the volume's root: no word of its own
    entry=${entry%/} flags=()
    for b in r:1 h:2 s:4 a:32; do ((before & ${b#*:})) && flags+=("+${b%:*}") || flags+=("-${b%:*}"); done
    case $1 in
    vfat) mattrib -i "$2" "${flags[@]}" "::/$entry" || echo "mattrib cannot set $entry" ;;
    exfat) sets+=("$entry=$before") ;;
    cifs) cmds+="setmode $entry $(printf %s "${flags[@]}");" ;;
    esac
  done < <(rows "$1")
  [[ $1 == exfat ]] && python3 "$here/vm_tools.py" exfat "$2" "${sets[@]}" >/dev/null
  [[ $1 == cifs ]] && smb "$cmds" >/dev/null
  return 0
}

start_smbd() {  # /var/lib/samba, /var/log and /run are the machine's own tmpfs
  mkdir -p /tmp/share /var/lib/samba/private /var/log/samba && printf '%s\n' '[global]' 'map to guest = Bad User' 'guest account = root' \
    'interfaces = 127.0.0.1' 'bind interfaces only = yes' 'load printers = no' \
    '[share]' 'path = /tmp/share' 'read only = no' 'guest ok = yes' 'force user = root' >/tmp/smb.conf &&
    smbd --configfile=/tmp/smb.conf || return
  local i
  for ((i = 0; i < 600; i++)); do
    (exec 3<>/dev/tcp/127.0.0.1/445) 2>/dev/null && return 0
    sleep 0.1
  done
  echo "smbd did not start: $(tail -5 /var/log/samba/* 2>/dev/null)"
  return 1
}

guest_fs() {  # guest_fs FS DEVICE: "ROW FS ENTRY BEFORE AFTER STATUS [RESTORED]" per row
  local fs=$1 dev=$2 mnt=/tmp/mnt/$1 made=/tmp/share entry before options msg w n=0 saves=()
  local mount_it=(mount -t "$fs" "$dev" "$mnt")
  [[ $fs == cifs ]] && mount_it=(mount -t cifs //127.0.0.1/share "$mnt" -o guest,cache=none,actimeo=0)
  mkdir -p "$mnt" || return
  # The entries, made through the driver (the share's in the folder smbd
  # serves); ntfs3 is the one tool here that sets an NTFS word.
  if [[ $fs != cifs ]]; then
    made=$mnt
    "${mount_it[@]}" || { echo "$fs: cannot mount"; return; }
  fi
  while read -r _ entry before _; do
    [[ $entry == / ]] && continue
    [[ $entry == */?* ]] && mkdir -p "$made/${entry%/*}"
    if [[ $entry == */ ]]; then mkdir "$made/$entry"; else echo text >"$made/$entry"; fi
    [[ $fs == ntfs3 ]] && setfattr -n system.ntfs_attrib -v "$(printf '0x%02x%02x%02x%02x' $((before & 255)) \
      $((before >> 8 & 255)) $((before >> 16 & 255)) $((before >> 24 & 255)))" "$mnt/${entry%/}"
  done < <(rows "$fs")
  [[ $fs == cifs ]] || umount "$mnt" || return
  set_words "$fs" "$dev"
  declare -A seen status
  while read -r entry w; do seen[$entry]=$w; done < <(read_words "$fs" "$dev")

  "${mount_it[@]}" || { echo "$fs: cannot mount"; return; }
  while read -r _ entry _ options _; do
    [[ $options == - ]] && options=
    saves=("/tmp/undo-$fs-$((++n)).rivak" "${saves[@]}")
    msg=$("$RIVAK" -v -j 4 --save="${saves[0]}" ${options//,/ } "$mnt/${entry%%/*}" 2>&1 </dev/null)
    status[$entry]=$?
    [[ -n $msg ]] && sed "s/^/  /" <<<"$msg"
  done < <(rows "$fs")
  umount "$mnt" || echo "cannot unmount $mnt"
  while read -r entry w; do seen[$entry]="${seen[$entry]} $w ${status[$entry]:-?}"; done < <(read_words "$fs" "$dev")
  "${mount_it[@]}" || { echo "$fs: cannot mount again"; return; }
  # Four workers tell what would change exactly as one does, byte for byte.
  one=$("$RIVAK" -n -v -j 1 --system=clear "$mnt" 2>&1 </dev/null)
  four=$("$RIVAK" -n -v -j 4 --system=clear "$mnt" 2>&1 </dev/null)
  if [[ $one == "$four" && -n $one ]]; then echo "JOBS $fs same"; else echo "JOBS $fs differ"; fi
  for w in "${saves[@]}"; do
    msg=$("$RIVAK" --restore="$w" 2>&1 </dev/null) || echo "  restore $w: exit $?"
    [[ -n $msg ]] && sed "s/^/  /" <<<"$msg"
  done
  if [[ $fs == *fat ]]; then
    "$RIVAK" --save=/tmp/again-$fs.rivak --system=clear "$mnt" >/dev/null 2>&1 </dev/null
    msg=$("$RIVAK" --restore=/tmp/again-$fs.rivak 2>&1 </dev/null) || echo "  restore within the mount: exit $?"
    [[ -n $msg ]] && sed "s/^/  /" <<<"$msg"
  fi
  umount "$mnt" || echo "cannot unmount $mnt"
  # The images are read again by the host, once this machine is off.
  [[ $fs == cifs ]] && while read -r entry w; do seen[$entry]="${seen[$entry]} $w"; done < <(read_words "$fs" "$dev")
  while read -r _ entry _; do
    echo "ROW $fs $entry ${seen[$entry]:-?}"
  done < <(rows "$fs")
}

guest() {
  export PATH=/usr/sbin:/usr/bin:/sbin:/bin MTOOLS_SKIP_CHECK=1 HOME=/tmp LANG=C.UTF-8
  guest_fs vfat /dev/vda
  guest_fs exfat /dev/vdb
  guest_fs ntfs3 /dev/vdc
  start_smbd && guest_fs cifs //127.0.0.1/share
}

[[ ${1:-} == --source ]] && return 0
if [[ ${1:-} == --guest ]]; then
  RIVAK=$2
  guest
  exit
fi

# ---- on the host -------------------------------------------------------------
rivak=$(realpath "$1") work=$(realpath -m "$2") script=$here/vm_test.sh files=$here/vm_tools.py
if (($# > 2)); then
  script=$(realpath "$3") files=
  (($# > 3)) && files=$(realpath "${@:4}" | paste -sd,)
fi
skip() { echo "SKIP: $*"; exit 77; }
[[ $(id -u) == 0 ]] || skip "the test machine's images are made and read as root"
for t in qemu-system-x86_64 mkfs.vfat mkfs.exfat mkfs.ntfs mattrib ntfsinfo smbd smbclient mount.cifs setfattr; do
  command -v "$t" >/dev/null || skip "$t is not installed"
done
dpkg -S /bin/busybox 2>/dev/null | grep -q '^busybox-static:' || skip "busybox-static is not installed"
mkdir -p "$work" || exit 1
cd "$work" || exit 1

# The kernel, once per version, out of the package (installing it would run
# the host's initramfs and boot loader hooks).
pkg=$(apt-cache depends linux-image-6.12-amd64 2>/dev/null | awk '/Depends: linux-image-6/{print $2; exit}')
[[ -n $pkg ]] || skip "apt knows no linux-image-6.12-amd64 (apt-get update?)"
kdir=$work/$pkg
stamp=$(cat "$here/vm_test.sh" "$here/vm_tools.py" | sha256sum)  # a changed initramfs is made anew
if [[ $(cat "$kdir/ready" 2>/dev/null) != "$stamp" ]]; then
  rm -rf "$kdir" ./*.deb && mkdir -p "$kdir" || exit 1
  apt-get download -q "$pkg" >/dev/null 2>&1 || skip "cannot download $pkg"
  dpkg-deb --fsys-tarfile "$pkg"_*.deb | tar -x -C "$kdir" --wildcards './boot/vmlinuz-*' './lib/modules/*/kernel' \
    || exit 1
  rm -f ./*.deb
  mkdir -p "$kdir/initrd/"{bin,dev,proc,sys,host,mod} && cp /bin/busybox "$kdir/initrd/bin/" || exit 1
  python3 "$here/vm_tools.py" modules "$kdir/lib/modules" "$kdir/initrd/mod" \
    virtio_blk 9pnet_virtio 9p vfat exfat ntfs3 cifs sch_netem ghash_generic nls_cp437 nls_ascii nls_utf8 >"$kdir/initrd/mod/order" || exit 1
  cat >"$kdir/initrd/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc && mount -t sysfs sys /sys && mount -t devtmpfs dev /dev
for m in $(cat /mod/order); do insmod /mod/$m.ko || echo "insmod $m failed"; done
ip link set lo up
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,cache=loose,ro host /host || echo "no 9p root"
# The checkout may lie below a folder the guest mounts its own tmpfs on
# (/tmp, /run, /var/log): the script, its tool and rivak are copied out first.
mkdir /test && cp "/host$rivak" /test/rivak || echo "cannot copy rivak from the host"
for f in $script $(echo "$files" | tr , ' '); do cp "/host$f" /test/ || echo "cannot copy $f from the host"; done
for d in tmp run var/log var/lib/samba var/cache/samba; do mount -t tmpfs tmpfs /host/$d; done
mount -t devtmpfs dev /host/dev && mount -t proc proc /host/proc && mount -t sysfs sys /host/sys
ln -s /proc/self/fd /host/dev/fd
mkdir /host/run/rivak-test && cp -p /test/* /host/run/rivak-test/
echo "BOOTED $(cut -d' ' -f1 /proc/uptime)"
chroot /host /bin/bash "/run/rivak-test/${script##*/}" --guest /run/rivak-test/rivak
echo "GUEST DONE $?"
poweroff -f
EOF
  chmod +x "$kdir/initrd/init" || exit 1
  (cd "$kdir/initrd" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1 >"$kdir/initrd.gz") || exit 1
  rm -rf "$kdir/lib" && echo "$stamp" >"$kdir/ready"
fi

rm -f vfat.img exfat.img ntfs3.img
truncate -s 32M vfat.img exfat.img ntfs3.img &&
  mkfs.vfat vfat.img >/dev/null && mkfs.exfat exfat.img >/dev/null && mkfs.ntfs -F -f -q ntfs3.img >/dev/null 2>&1 ||
  { echo "cannot make the images"; exit 1; }
t0=$(date +%s.%N)
out=$(timeout "${RIVAK_VM_TIMEOUT:-900}" qemu-system-x86_64 -cpu max -m 1024 -nographic -no-reboot -nic none \
  -kernel "$kdir"/boot/vmlinuz-* -initrd "$kdir/initrd.gz" \
  -append "console=ttyS0 quiet panic=-1 script=$script files=$files rivak=$rivak" \
  -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap \
  -drive file=vfat.img,if=virtio,format=raw -drive file=exfat.img,if=virtio,format=raw \
  -drive file=ntfs3.img,if=virtio,format=raw 2>&1 | tr -d '\r')
t1=$(date +%s.%N)
if grep -q '^BOOTED' <<<"$out"; then sed -n '/^BOOTED/,$p' <<<"$out"; else echo "$out"; fi | grep -v '^ROW '
grep -q '^GUEST DONE' <<<"$out" || { echo "the test machine did not run to its end"; exit 1; }
(($# > 2)) && exit "$(grep -m1 -o '^GUEST DONE [0-9]*' <<<"$out" | cut -d' ' -f3)"
echo "test machine: booted in $(grep -m1 -o 'BOOTED [0-9.]*' <<<"$out" | cut -d' ' -f2) s, ran $(awk "BEGIN{print $t1 - $t0}") s"

declare -A restored
for fs in vfat exfat ntfs3; do
  while read -r entry w; do restored[$fs$entry]=$w; done < <(MTOOLS_SKIP_CHECK=1 read_words $fs $fs.img)
done
failures=0
row='%-6s %-11s %-11s %-31s %-11s %-11s %-11s %s\n'
printf "$row" fs entry before options after expected restored result
while read -r fs entry before options after status; do
  read -r _ _ _ seen_before seen rc back < <(grep -m1 "^ROW $fs $entry " <<<"$out") || seen_before=? seen=? rc=?
  [[ $fs == cifs ]] || back=${restored[$fs$entry]:-?}
  result=ok
  if [[ $seen_before != "$before" ]]; then result="FAIL (the starting word is $seen_before)"
  elif [[ $rc != "$status" ]]; then result="FAIL (rivak exit ${rc:-?}, expected $status)"
  elif [[ $seen != "$after" ]]; then result=FAIL
  elif [[ ${back:-?} != "$([[ $fs == *fat ]] && echo "$after" || echo "$before")" ]]; then
    result="FAIL (restored to ${back:-?})"
  fi
  [[ $result == ok ]] || failures=$((failures + 1))
  printf "$row" "$fs" "$entry" "$seen_before" "$options" "$seen" "$after" "${back:-?}" "$result"
done < <(grep -v '^$' <<<"$table")
for fs in vfat exfat ntfs3 cifs; do
  grep -q "^JOBS $fs same" <<<"$out" && continue
  echo "$fs: -j 4 did not tell what -j 1 tells"
  failures=$((failures + 1))
done
echo "$failures of $(grep -vc '^$' <<<"$table") rows failed"
((failures == 0))
