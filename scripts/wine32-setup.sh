#!/usr/bin/env bash
# Makes this machine able to run the 32-bit program under Wine. As root; run by scripts/test.sh
# before the wine32 stage. It changes the machine, each step only when its work is not done yet:
#   - adds the i386 architecture to dpkg and installs 32-bit Wine and qemu (scripts/deps.sh);
#   - mounts binfmt_misc and registers qemu-i386 there, so that the kernel hands 32-bit x86
#     programs to qemu (this kernel cannot start them itself). The registration lasts until
#     the machine restarts; `echo -1 >/proc/sys/fs/binfmt_misc/qemu-i386` removes it.
# The prefix the tests run in is made by the tests themselves (scripts/wine-prefix.sh wow64).
set -eu
cd "$(dirname "$0")/.."

bash scripts/deps.sh --install wine32

binfmt=/proc/sys/fs/binfmt_misc
if [ -f "$binfmt/qemu-i386" ] && [ "$(head -n1 "$binfmt/qemu-i386")" = enabled ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "wine32-setup: qemu-i386 is not registered with binfmt_misc; run this script as root" >&2
  exit 1
fi
if [ ! -f "$binfmt/register" ]; then
  echo "wine32-setup: mounting binfmt_misc"
  mount -t binfmt_misc binfmt_misc "$binfmt"
fi
if [ ! -f "$binfmt/qemu-i386" ]; then
  echo "wine32-setup: registering qemu-i386 with binfmt_misc"
  # The kernel decodes the \x escapes itself. 'F' opens the interpreter now, so it also serves
  # programs started in other mount namespaces.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
    >"$binfmt/register"
fi
if [ "$(head -n1 "$binfmt/qemu-i386")" != enabled ]; then
  echo 1 >"$binfmt/qemu-i386"
fi
