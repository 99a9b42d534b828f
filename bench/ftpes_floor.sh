#!/bin/bash
# What FTP over TLS costs vsftpd itself, whatever the client: a minimal
# client (Python's ftplib, no checks, no retries) uploads N small files, each
# to a temporary name renamed into place as the program does, to two vsftpd
# servers of the same build on loopback, one plain and one requiring TLS for
# log-in and data (data connections resuming the control connection's TLS
# session). Prints the client's time per file and the CPU time each server
# used (its sessions included, counted by perf: apt-get install linux-perf).
# usage: ftpes_floor.sh [files]   (as root: vsftpd runs as a guest of root)
set -eu
N=${1:-1000}
W=$(mktemp -d)
trap 'pkill -f "^vsftpd $W/" || true; rm -rf "$W"' EXIT
mkdir -p "$W/root" "$W/empty"
PAM=pellmor-ftpfloor
printf 'auth required pam_permit.so\naccount required pam_permit.so\nsession required pam_permit.so\n' \
    > /etc/pam.d/$PAM
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$W/server.pem" -out "$W/server.pem" -days 2 \
    -subj /CN=localhost 2>/dev/null
config() { # name port
    cat > "$W/$1.conf" <<CONF
listen=YES
listen_ipv6=NO
background=NO
listen_address=127.0.0.1
listen_port=$2
pasv_min_port=$(($2 + 1))
pasv_max_port=$(($2 + 40))
pasv_address=127.0.0.1
port_enable=NO
seccomp_sandbox=NO
anonymous_enable=NO
local_enable=YES
write_enable=YES
guest_enable=YES
guest_username=root
virtual_use_local_privs=YES
chroot_local_user=YES
allow_writeable_chroot=YES
secure_chroot_dir=$W/empty
local_root=$W/root
pam_service_name=$PAM
xferlog_enable=NO
syslog_enable=NO
CONF
}
config plain 42100
config tls 42200
cat >> "$W/tls.conf" <<CONF
ssl_enable=YES
rsa_cert_file=$W/server.pem
force_local_logins_ssl=YES
force_local_data_ssl=YES
require_ssl_reuse=YES
CONF
cat > "$W/client.py" <<'PY'
import ftplib, os, socket, ssl, sys, time
mode, port, n = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
data = os.urandom(4096)
ctx = ssl.create_default_context()
ctx.check_hostname = False
ctx.verify_mode = ssl.CERT_NONE
# TLS 1.2, as the program speaks it to FTP servers: its sessions can be
# resumed again and again.
ctx.maximum_version = ssl.TLSVersion.TLSv1_2
f = ftplib.FTP_TLS(context=ctx) if mode == "tls" else ftplib.FTP()
f.connect("127.0.0.1", port)
if mode == "tls":
    f.auth()
f.login("user", "secret")
if mode == "tls":
    f.prot_p()
f.voidcmd("TYPE I")
folder = "/r%d" % os.getpid()
f.mkd(folder)
start = time.perf_counter()
for i in range(n):
    part = "%s/~f%d.part" % (folder, i)
    port_ = int(f.sendcmd("EPSV").split("|")[3])
    s = socket.create_connection(("127.0.0.1", port_))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    f.sendcmd("STOR " + part)
    if mode == "tls":
        s = ctx.wrap_socket(s, server_hostname="127.0.0.1", session=f.sock.session)
    s.sendall(data)
    if mode == "tls":
        s = s.unwrap()
    s.close()
    f.voidresp()
    f.sendcmd("RNFR " + part)
    f.voidcmd("RNTO %s/f%d" % (folder, i))
took = time.perf_counter() - start
f.quit()
print("%-5s client: %.3f ms a file" % (mode, took * 1000 / n))
PY
for mode in plain tls; do
    port=$([ $mode = plain ] && echo 42100 || echo 42200)
    perf stat -e task-clock -x, -o "$W/$mode.time" vsftpd "$W/$mode.conf" 2>/dev/null &
    sleep 0.5
    /usr/bin/python3 "$W/client.py" $mode $port "$N"
    sleep 1 # the session processes end and are counted
    pkill -f "^vsftpd $W/$mode.conf" || true
    wait
    awk -F, -v m=$mode '/task-clock/ { printf "%-5s server: %.0f ms of CPU\n", m, $1 }' "$W/$mode.time"
done
rm -f /etc/pam.d/$PAM
