#!/usr/bin/env bash
# Renders on a real Slurm cluster of one machine and checks that nothing is
# lost, doubled or half written:
#   1. a 48-frame sequence as 6 array tasks, every frame byte-identical to
#      the same render run locally;
#   2. the same again with one task cancelled mid-run, then resubmitted with
#      --skip-existing: the set is complete and identical, and frames that
#      were finished before are not rendered again.
# The cluster (munged, slurmctld, slurmd) is started here from Debian's
# packages, as root and without systemd, on loopback only, with its
# configuration, state and logs in a temporary folder; every daemon is
# stopped by its process id on the way out, whatever happened.
#
# Usage: scripts/farm-test.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
lenstrove=$(realpath "$build/cli/lenstrove")
started=$SECONDS

fail() { echo "farm-test: FAILED: $*" >&2; exit 1; }
say() { echo "farm-test: $*"; }

[ -x "$lenstrove" ] || fail "no lenstrove in $build/cli (build first)"
[ "$(id -u)" -eq 0 ] || fail "the cluster's daemons run as root; run this as root"
for tool in munged slurmctld slurmd sbatch squeue sinfo scancel scontrol oiiotool; do
  command -v "$tool" >/dev/null || fail "'$tool' is missing (scripts/install-deps.sh installs it)"
done

work=$(mktemp -d /tmp/lenstrove-farm.XXXXXX)
pids=()
jobs_submitted=()
local_render=

# Jobs first: stopping slurmd leaves running jobs alone.
stop_cluster() {
  local status=$?
  set +e
  [ -n "$local_render" ] && kill "$local_render" 2>/dev/null
  if ((${#jobs_submitted[@]})); then
    scancel "${jobs_submitted[@]}" 2>/dev/null
    for _ in $(seq 50); do
      [ -z "$(squeue -h -j "$(IFS=,; echo "${jobs_submitted[*]}")" 2>/dev/null)" ] && break
      sleep 0.2
    done
  fi
  # Newest first: slurmd, slurmctld, then munged, which both still use.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  if [ "$status" -ne 0 ]; then
    for log in "$work"/log/* "$work"/logs*/*.log; do
      [ -s "$log" ] && { echo "--- $log (last lines)"; tail -n 15 "$log"; }
    done
  fi
  rm -rf "$work"
  exit "$status"
}
trap stop_cluster EXIT
trap 'exit 130' INT TERM

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local limit=$1; shift
  local until=$((SECONDS + limit))
  until "$@"; do
    ((SECONDS < until)) || return 1
    sleep 0.2
  done
}

# --- the cluster -------------------------------------------------------------
mkdir -p "$work"/{munge,log,state,spool}
chmod 0755 "$work" "$work/munge"
head -c 1024 /dev/urandom >"$work/munge.key"
chmod 0400 "$work/munge.key"
munged -F --key-file="$work/munge.key" --socket="$work/munge/socket" \
  --pid-file="$work/munge/munged.pid" --seed-file="$work/munge/seed" \
  --log-file="$work/log/munged.log" >"$work/log/munged.out" 2>&1 &
pids+=($!)
names=(munged)
# A daemon that exits at once fails the start now, not after the timeout.
daemons_alive() {
  local i
  for i in "${!pids[@]}"; do
    kill -0 "${pids[i]}" 2>/dev/null || fail "${names[i]} could not start or stopped; the cluster is not usable here"
  done
}
munge_ready() { daemons_alive && test -S "$work/munge/socket"; }
wait_for 10 munge_ready || fail "munged did not start within 10 s"

host=$(hostname -s)
# Ports apart from Slurm's defaults, so a cluster already on the machine is
# left alone.
port=$((20000 + $$ % 20000))
touch "$work/plugstack.conf"
export SLURM_CONF=$work/slurm.conf
cat >"$SLURM_CONF" <<EOF
ClusterName=lenstrove
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
CommunicationParameters=NoInAddrAny
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$work/munge/socket
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/log/slurmctld.log
SlurmdLogFile=$work/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
PlugStackConfig=$work/plugstack.conf
MpiDefault=none
MailProg=/bin/true
ReturnToService=2
KillWait=10
MinJobAge=600
SlurmdParameters=config_overrides
$(slurmd -C | head -n 1) NodeAddr=127.0.0.1 State=UNKNOWN
PartitionName=farm Nodes=ALL Default=YES MaxTime=INFINITE State=UP
EOF

slurmctld -D >"$work/log/slurmctld.out" 2>&1 &
pids+=($!)
names+=(slurmctld)
slurmd -D -N "$host" >"$work/log/slurmd.out" 2>&1 &
pids+=($!)
names+=(slurmd)
node_idle() { daemons_alive && [ "$(sinfo -h -N -o %t 2>/dev/null)" = idle ]; }
wait_for 60 node_idle || fail "the Slurm node did not come up within 60 s: state '$(sinfo -h -N -o %t 2>&1)'"
say "cluster up after $((SECONDS - started)) s (node $host, $(sinfo -h -N -o %c) CPUs)"

# --- the render --------------------------------------------------------------
cd "$work"
oiiotool "$OLDPWD/data/coffee.png" --resize 1920x1280 -o still.png
params=(FalseColorMode=on GuideThirds=on Crop239=on CropOpacity=1:0,48:1 LineThickness=1:2,48:20)
render_args=(--frames 1-48 still.png "OUT/f.####.png" "${params[@]}")
in_folder() { local folder=$1; shift; local a; for a in "$@"; do echo "${a//OUT/$folder}"; done; }

mkdir local
t0=$(date +%s%N)
mapfile -t args < <(in_folder local "${render_args[@]}")
# In the background, so an interrupt is handled at once rather than after
# the render.
"$lenstrove" render -q "${args[@]}" &
local_render=$!
wait "$local_render"
local_ms=$((($(date +%s%N) - t0) / 1000000))

# submit FOLDER [RENDER OPTION...]: sets $job to the new job's id.
submit() {
  local folder=$1; shift
  mapfile -t args < <(in_folder "$folder" "${render_args[@]}")
  job=$("$lenstrove" submit slurm --chunk-size 8 --job-name "$folder" --logs "logs-$folder" \
    -- render "$@" "${args[@]}")
  [[ $job =~ ^[0-9]+$ ]] || fail "submit printed '$job', not a job id"
  jobs_submitted+=("$job")
}
job_done() { [ -z "$(squeue -h -j "$1" 2>/dev/null)" ]; }
# Each array task's state and exit code, one "TASK STATE CODE" line each.
task_states() {
  scontrol -o show job "$1" | sed -n 's/.*ArrayTaskId=\([0-9]*\) .*JobState=\([A-Z_]*\) .*ExitCode=\([0-9:]*\) .*/\1 \2 \3/p' | sort -n
}
# The folder holds exactly frames 1-48, each identical to the local one.
check_complete() {
  local folder=$1 name frame
  [ -z "$(find "$folder" -name '.*' -type f)" ] || fail "$folder holds temporary files: $(ls -A "$folder" | grep '^\.' | head -3)"
  [ "$(ls "$folder" | wc -l)" -eq 48 ] || fail "$folder holds $(ls "$folder" | wc -l) files, not 48"
  for frame in $(seq 1 48); do
    name=$(printf 'f.%04d.png' "$frame")
    cmp -s "local/$name" "$folder/$name" || fail "$folder/$name differs from the local render"
  done
}

mkdir farm
t0=$(date +%s%N)
submit farm
wait_for 600 job_done "$job" || fail "job $job did not finish in 10 minutes"
farm_ms=$((($(date +%s%N) - t0) / 1000000))
states=$(task_states "$job")
[ "$(echo "$states" | grep -c ' COMPLETED 0:0$')" -eq 6 ] || fail "tasks of job $job: $states"
[ "$(ls logs-farm/*.log | wc -l)" -eq 6 ] || fail "expected one log per task in logs-farm"
check_complete farm
say "6 tasks rendered 48 frames identical to the local render"

# --- cancel one task mid-run, then resume ------------------------------------
mkdir resume
submit resume
# Task 3 renders frames 17-24: cancel it once it has written some of them.
chunk_started() {
  local n; n=$(ls resume 2>/dev/null | grep -c '^f\.00\(1[7-9]\|2[0-4]\)\.png$' || true)
  ((n >= 1))
}
wait_for 300 chunk_started || fail "task 3 of job $job wrote no frame"
scancel "${job}_3"
wait_for 600 job_done "$job" || fail "job $job did not finish in 10 minutes"
state3=$(task_states "$job" | awk '$1 == 3 {print $2}')
[ "$state3" = CANCELLED ] || fail "task 3 ended $state3, not CANCELLED (it finished before the cancel reached it)"
written=$(ls resume | wc -l)
((written < 48)) || fail "the cancelled task left no frame to resume"
# Every file left is a whole frame.
for f in resume/f.*.png; do cmp -s "$f" "local/${f#resume/}" || fail "$f is not a complete frame after the cancel"; done
[ -z "$(find resume -name '.*' -type f)" ] || fail "the cancelled task left a temporary file"
# A task killed without warning (SIGKILL, a lost node) cannot clean up; its
# temporary file must not count as the frame, and the resume removes it.
missing=$(for frame in $(seq 17 24); do name=$(printf 'f.%04d.png' "$frame"); [ -e "resume/$name" ] || { echo "$name"; break; }; done)
[ -n "$missing" ] || fail "task 3 finished all its frames before the cancel reached it"
head -c 1000 still.png >"resume/.$missing.tmp99999-0"
stat -c '%n %i %Y' resume/f.*.png | sort >before.txt

submit resume --skip-existing
wait_for 600 job_done "$job" || fail "resumed job $job did not finish in 10 minutes"
[ "$(task_states "$job" | grep -c ' COMPLETED 0:0$')" -eq 6 ] || fail "tasks of resumed job $job: $(task_states "$job")"
check_complete resume
stat -c '%n %i %Y' resume/f.*.png | sort >after.txt
comm -23 before.txt after.txt | grep -q . && fail "frames finished before the cancel were rendered again"
say "cancelled task 3 after $written frames; the resume rendered the $((48 - written)) missing ones"

seconds() { printf "%d.%01d s" $(($1 / 1000)) $(($1 % 1000 / 100)); }
say "48 frames: local render $(seconds "$local_ms"), farm render (submit to last task done) $(seconds "$farm_ms")"
say "passed in $((SECONDS - started)) s"
