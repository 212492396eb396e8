#!/bin/sh
# Runs a command in the test machine as a desktop user would: as the ordinary user "vornel" (an
# administrator: group sudo, password $VORNEL_PASSWORD), in an active local session, with the
# system bus and polkit running and the program installed from the build tree $VORNEL_BUILD_DIR
# into /opt/vornel. What a desktop's login sets up is set up here, once per boot:
# - the machine has no login manager, so the session is written where systemd-logind keeps it
#   (the user's processes in the cgroup user.slice/user-UID.slice/session-1.scope, the session
#   file in /run/systemd/sessions/): polkit reads it through sd-login as a logind session;
# - the system bus (dbus-daemon) and polkit's daemon, as the system starts them.
# Usage: desktop-user.sh COMMAND [ARGUMENTS...]
set -eu
user=vornel
if ! id "$user" >/dev/null 2>&1; then
  useradd --create-home --groups sudo --shell /bin/sh "$user"
  echo "$user:$VORNEL_PASSWORD" | chpasswd
  cmake --install "$VORNEL_BUILD_DIR" --prefix / >/dev/null
  uid=$(id -u "$user")
  mkdir -p "/run/user/$uid" /run/systemd/sessions /run/systemd/users /run/systemd/seats /run/systemd/machines
  chown "$user:$user" "/run/user/$uid"
  chmod 700 "/run/user/$uid"
  mkdir -p "/sys/fs/cgroup/user.slice/user-$uid.slice/session-1.scope"
  cat >/run/systemd/sessions/1 <<SESSION
UID=$uid
USER=$user
ACTIVE=1
IS_DISPLAY=1
STATE=active
REMOTE=0
TYPE=x11
CLASS=user
SEAT=seat0
VTNR=1
SESSION
  cat >"/run/systemd/users/$uid" <<USER
NAME=$user
STATE=active
SESSIONS=1
ACTIVE_SESSIONS=1
ONLINE_SESSIONS=1
DISPLAY=1
USER
  mkdir -p /run/dbus
  dbus-daemon --system --fork
  /usr/lib/polkit-1/polkitd --no-debug >/tmp/polkitd.log 2>&1 &
  # polkitd answers once it owns its name on the bus.
  tries=0
  until dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.GetNameOwner string:org.freedesktop.PolicyKit1 >/dev/null 2>&1; do
    tries=$((tries + 1))
    [ $tries -lt 100 ] || { echo "polkitd did not start:"; cat /tmp/polkitd.log; exit 1; }
    sleep 0.2
  done
fi
uid=$(id -u "$user")
echo $$ >"/sys/fs/cgroup/user.slice/user-$uid.slice/session-1.scope/cgroup.procs"
cd /
exec setpriv --reuid="$user" --regid="$user" --init-groups --reset-env \
  env HOME="/home/$user" USER="$user" LOGNAME="$user" XDG_RUNTIME_DIR="/run/user/$uid" \
  XDG_SESSION_ID=1 LANG=C.UTF-8 "$@"
