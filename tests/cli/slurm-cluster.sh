#!/usr/bin/env bash
# A one-node Slurm cluster for the time of one command:
#   tests/cli/slurm-cluster.sh COMMAND [ARG...]
# starts munged, slurmctld and slurmd as root with a slurm.conf, a munge key
# and all their state in a fresh temporary directory, waits until the node
# is idle, runs COMMAND with SLURM_CONF pointing at that cluster, and then
# stops exactly the daemons it started (by their pid files) and removes the
# directory, whether COMMAND passed, failed or the start itself failed. Its
# exit status is COMMAND's, or 1 with one line saying why the cluster did not
# come up (and the daemons' logs).
#
# No systemd and no cgroups: processes are tracked through /proc, and the
# daemons listen on free ports of 127.0.0.1 only, so that the cluster clashes
# with nothing else on the machine, another Slurm included.
set -euo pipefail

if [ $# -eq 0 ]; then
  echo "usage: $0 COMMAND [ARG...]" >&2
  exit 2
fi

fail() {
  echo "slurm-cluster: $*" >&2
  exit 1
}

[ "$(id -u)" -eq 0 ] || fail "the cluster's daemons run as root: run the tests as root"
for program in munged slurmctld slurmd sinfo sbatch squeue; do
  command -v "$program" > /dev/null || [ -x "/usr/sbin/$program" ] ||
    fail "$program is missing: install munge, slurmctld, slurmd and slurm-client (scripts/install-deps.sh)"
done
PATH="$PATH:/usr/sbin"

state="$(mktemp -d /tmp/qv-slurm.XXXXXX)"
chmod 0700 "$state"

# The daemons this script started, by pid file, stopped in reverse order;
# then the directory. Runs on every exit, the failing ones included.
stop_cluster() {
  local status=$?
  local pidfile pid jobs
  # Jobs still in the cluster are ended by its controller first, so that no
  # job step outlives the daemons.
  if [ -s "$state/slurmctld.pid" ] && [ -n "${SLURM_CONF:-}" ]; then
    jobs="$(squeue -h -o %A 2> /dev/null | sort -u || true)"
    if [ -n "$jobs" ]; then
      # shellcheck disable=SC2086
      scancel $jobs 2> /dev/null || true
      for _ in $(seq 50); do
        [ -z "$(squeue -h -o %A 2> /dev/null || true)" ] && break
        sleep 0.2
      done
    fi
  fi
  for pidfile in "$state/slurmd.pid" "$state/slurmctld.pid" "$state/munged.pid"; do
    [ -s "$pidfile" ] || continue
    pid="$(cat "$pidfile")"
    kill -TERM "$pid" 2> /dev/null || continue
    for _ in $(seq 100); do
      kill -0 "$pid" 2> /dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2> /dev/null || true
  done
  rm -rf "$state"
  exit "$status"
}
trap stop_cluster EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

show_logs() {
  local log
  for log in "$state"/*.log; do
    [ -f "$log" ] || continue
    echo "--- $log" >&2
    tail -n 20 "$log" >&2
  done
}

# A port nothing on this machine listens on.
free_port() {
  local port
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 30000))
    if ! ss -Htan "sport = :$port" | grep -q . && [ "$port" != "${1:-}" ]; then
      echo "$port"
      return 0
    fi
  done
  fail "no free port found"
}

host="$(hostname -s)"
cpus="$(nproc)"
memory_mib=$(($(awk '/^MemTotal:/ {print $2}' /proc/meminfo) / 1024 / 2))
ctld_port="$(free_port)"
slurmd_port="$(free_port "$ctld_port")"
mkdir -m 0700 "$state/ctld" "$state/spool" "$state/munge"

# munged insists on a key only its user can read, in directories no one else
# may write.
dd if=/dev/urandom of="$state/munge/munge.key" bs=1024 count=1 status=none
chmod 0400 "$state/munge/munge.key"
munged --key-file="$state/munge/munge.key" --socket="$state/munge/socket" \
  --pid-file="$state/munged.pid" --log-file="$state/munged.log" \
  --seed-file="$state/munge/seed" --force ||
  { show_logs; fail "munged did not start"; }

cat > "$state/slurm.conf" << EOF
ClusterName=quorvandile-test
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$state/munge/socket
CredType=cred/munge
StateSaveLocation=$state/ctld
SlurmdSpoolDir=$state/spool
SlurmctldPidFile=$state/slurmctld.pid
SlurmdPidFile=$state/slurmd.pid
SlurmctldLogFile=$state/slurmctld.log
SlurmdLogFile=$state/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SwitchType=switch/none
MpiDefault=none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SchedulerType=sched/backfill
# Tasks start as soon as others end, not seconds later: a test cluster waits
# for nothing.
SchedulerParameters=batch_sched_delay=0,sched_min_interval=100000
ReturnToService=2
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MailProg=/bin/true
MinJobAge=300
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$memory_mib State=UNKNOWN
PartitionName=render Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF="$state/slurm.conf"

slurmctld -i || { show_logs; fail "slurmctld did not start"; }
slurmd -N "$host" || { show_logs; fail "slurmd did not start"; }

# The node is ready when the controller has heard from slurmd: idle.
for _ in $(seq 120); do
  node_state="$(sinfo -h -N -o %T 2> /dev/null || true)"
  [ "$node_state" = idle ] && break
  sleep 0.5
done
if [ "$node_state" != idle ]; then
  show_logs
  fail "the node did not become idle within 60 s (state: ${node_state:-no answer})"
fi

status=0
"$@" || status=$?
exit "$status"
