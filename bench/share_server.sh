# Sourced by the share benchmarks: the Samba server's configuration under the
# temporary folder T, listening on 127.0.0.1:PORT only, with one share "data"
# (T/share) for the system user duplorasmb (password bench-pw), made here when
# missing. Every state file of the server stays under T.
#
#   write_share_server T PORT

write_share_server() {
    local t=$1 port=$2
    mkdir -p "$t"/{share,priv,state,lock,cache,pid,ncalrpc}
    id duplorasmb >/dev/null 2>&1 || useradd -M -s /usr/sbin/nologin duplorasmb
    cat >"$t/smb.conf" <<CONF
[global]
  server role = standalone server
  interfaces = lo
  bind interfaces only = yes
  smb ports = $port
  disable netbios = yes
  private dir = $t/priv
  state directory = $t/state
  lock directory = $t/lock
  cache directory = $t/cache
  pid directory = $t/pid
  ncalrpc dir = $t/ncalrpc
  passdb backend = tdbsam:$t/priv/passdb.tdb
  log file = $t/smbd.log
  map to guest = never
  load printers = no
  disable spoolss = yes
[data]
  path = $t/share
  read only = no
  valid users = duplorasmb
CONF
    printf 'bench-pw\nbench-pw\n' | smbpasswd -c "$t/smb.conf" -s -a duplorasmb >/dev/null
}
