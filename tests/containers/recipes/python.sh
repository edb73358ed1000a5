# The official Python image as the wheel test uses it: `python`, a `pip`
# that installs into the system interpreter, and git.
. /recipes/common.sh
rm -f /usr/lib/python3*/EXTERNALLY-MANAGED
ln -sf /usr/bin/python3 /usr/local/bin/python
python --version
pip --version
git --version
