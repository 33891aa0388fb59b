#!/usr/bin/env bash
# A throwaway company directory for the sign-in tests: an OpenLDAP slapd (Debian's slapd package)
# made at test time in a folder of its own, listening on a free loopback port.
#
#   bash scripts/test-directory.sh start DIR   prints ldap://127.0.0.1:PORT (also written to DIR/uri)
#   bash scripts/test-directory.sh stop DIR    stops it and removes DIR
#
# The directory (suffix dc=empresa,dc=br) holds, under ou=pessoas, the people below (password
# "senha-<uid>-2024" each) and, under ou=grupos, the groups edicao and consulta (groupOfNames,
# their `member` attribute holding the people's DNs):
#   maria  in edicao          joao  in consulta          ana  in both          pedro  in neither
# The tests read PDI_TEST_LDAP_URI and know these entries; scripts/test.sh sets it.
set -euo pipefail

command=${1:-}
dir=${2:-}
if [ -z "$command" ] || [ -z "$dir" ]; then
  echo "usage: $0 start|stop DIR" >&2
  exit 2
fi

stop() {
  if [ -f "$dir/slapd.pid" ]; then
    local pid
    pid=$(cat "$dir/slapd.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
}

if [ "$command" = stop ]; then
  stop
  exit 0
fi
[ "$command" = start ] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }

for program in /usr/sbin/slapd /usr/sbin/slapadd /usr/sbin/slappasswd; do
  [ -x "$program" ] || { echo "test-directory: $program not found (Debian packages slapd, ldap-utils)" >&2; exit 1; }
done
mkdir -p "$dir/data"
chmod 700 "$dir"

cat >"$dir/slapd.conf" <<EOF
include /etc/ldap/schema/core.schema
include /etc/ldap/schema/cosine.schema
include /etc/ldap/schema/inetorgperson.schema
modulepath /usr/lib/ldap
moduleload back_mdb
pidfile $dir/slapd.pid
argsfile $dir/slapd.args
access to attrs=userPassword by anonymous auth by self read by * none
access to * by users read by * none
database mdb
maxsize 16777216
suffix "dc=empresa,dc=br"
rootdn "cn=admin,dc=empresa,dc=br"
directory $dir/data
EOF

person() {
  local uid=$1 name=$2
  cat <<EOF
dn: uid=$uid,ou=pessoas,dc=empresa,dc=br
objectClass: inetOrgPerson
uid: $uid
cn: $name
sn: ${name##* }
userPassword: $(/usr/sbin/slappasswd -s "senha-$uid-2024")

EOF
}
group() {
  local cn=$1
  shift
  echo "dn: cn=$cn,ou=grupos,dc=empresa,dc=br"
  echo "objectClass: groupOfNames"
  echo "cn: $cn"
  for uid in "$@"; do echo "member: uid=$uid,ou=pessoas,dc=empresa,dc=br"; done
  echo
}
{
  printf 'dn: dc=empresa,dc=br\nobjectClass: dcObject\nobjectClass: organization\no: Empresa\ndc: empresa\n\n'
  printf 'dn: ou=pessoas,dc=empresa,dc=br\nobjectClass: organizationalUnit\nou: pessoas\n\n'
  printf 'dn: ou=grupos,dc=empresa,dc=br\nobjectClass: organizationalUnit\nou: grupos\n\n'
  person maria "Maria da Silva"
  person joao "João Souza"
  person ana "Ana Lima"
  person pedro "Pedro Alves"
  group edicao maria ana
  group consulta joao ana
} >"$dir/entries.ldif"
/usr/sbin/slapadd -q -f "$dir/slapd.conf" -l "$dir/entries.ldif" >"$dir/slapadd.log" 2>&1 || {
  cat "$dir/slapadd.log" >&2
  exit 1
}

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
for _ in 1 2 3 4 5 6 7 8; do
  port=$((20000 + RANDOM % 40000))
  port_in_use "$port" && continue
  if /usr/sbin/slapd -f "$dir/slapd.conf" -h "ldap://127.0.0.1:$port/" >"$dir/slapd.log" 2>&1; then
    for _ in $(seq 1 100); do
      port_in_use "$port" && break
      sleep 0.05
    done
    if port_in_use "$port"; then
      echo "ldap://127.0.0.1:$port" | tee "$dir/uri"
      exit 0
    fi
    stop
    mkdir -p "$dir"
  fi
done
echo "test-directory: could not start slapd; its log:" >&2
cat "$dir/slapd.log" >&2 || true
exit 1
