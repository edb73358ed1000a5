# Sourced by the image recipes. pip in the image trusts the CA bundle the
# host trusts, so that it reaches the same package index the same way.
set -eu
install -m 644 /recipes-ca.crt /etc/ssl/certs/host-ca-bundle.crt
# No package script made the system's bundle: the host's takes its place.
if [ ! -e /etc/ssl/certs/ca-certificates.crt ]; then
  ln -s host-ca-bundle.crt /etc/ssl/certs/ca-certificates.crt
fi
{
  echo "[global]"
  echo "cert = /etc/ssl/certs/host-ca-bundle.crt"
  if [ -n "${PIP_PROXY:-}" ]; then echo "proxy = $PIP_PROXY"; fi
} > /etc/pip.conf
