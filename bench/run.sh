#!/bin/bash
# Prints the tool's figures in one run, under Wine on an Xvfb of its own:
# start-up against a minimal dialog program, a full refresh and a
# certificate listing with the stand-in library and the library's share of
# them, and what the tool holds (GDI objects, windows, private bytes) after
# start, after 10,000 refreshes and after 1,000 removals and insertions.
# Builds x86_64 in ${QRVL_BUILD:-build}/x86_64; leaves nothing running.
set -u
cd "$(dirname "$0")/.."
source scripts/wine-env.sh

build=${QRVL_BUILD:-$QRVL_ROOT/build}/x86_64
trap qrvl_cleanup EXIT
qrvl_install_missing
qrvl_build x86_64-w64-mingw32 "$build" >/dev/null
qrvl_locale "$build"
qrvl_start_xvfb
qrvl_prefix "$build"

out=$build/bench
rm -rf "$out" && mkdir -p "$out"
run() {
  local exe=$1 tag=$1; shift
  [ "${1:-}" = timing ] && tag=$exe-timing-$2 && set -- timing
  qrvl_say "running $exe $*"
  TOKENSIM_STORE="$out/store-$tag" qrvl_wine "$build/bin/$exe.exe" "$@" >"$out/$tag.txt" 2>"$out/$tag.err" \
    || { cat "$out/$tag.err" >&2; qrvl_die "$exe failed"; }
}
# The times vary from run to run under Wine (the refresh shows and hides
# windows on the X server): seven runs of each, taken in turns.
for i in 1 2 3 4 5 6 7; do
  run bench_refresh_double timing $i
  run bench_refresh_standin timing $i
done
# The start-up step by step: seven fresh processes of each, in turns.
for i in 1 2 3 4 5 6 7; do
  for key in nokey onekey; do
    for lib in double standin; do
      qrvl_say "running bench_startup_$lib $key ($i)"
      TOKENSIM_STORE="$out/store-startup-$lib-$key-$i" qrvl_wine "$build/bin/bench_startup_$lib.exe" $key \
        >"$out/startup-$lib-$key-$i.txt" 2>"$out/startup-$lib-$key-$i.err" \
        || { cat "$out/startup-$lib-$key-$i.err" >&2; qrvl_die "bench_startup_$lib failed"; }
    done
  done
done
run bench_refresh_double
run bench_refresh_standin
run bench_tool
run bench_store_probe "Z:${QRVL_ROOT//\//\\}\\tests\\data\\zhangsan.der"

/usr/bin/python3 - "$out" <<'PY'
import sys, os
out = sys.argv[1]
v = {}
names = ("bench_refresh_double", "bench_refresh_standin", "bench_tool", "bench_store_probe")
for name in names:
    for line in open(os.path.join(out, name + ".txt"), encoding="ascii", errors="replace"):
        parts = line.split()
        if len(parts) == 2:
            v[(name, parts[0])] = float(parts[1])
d, s, t, p = names
def median(xs):
    xs = sorted(xs)
    return xs[len(xs) // 2] if len(xs) % 2 else (xs[len(xs) // 2 - 1] + xs[len(xs) // 2]) / 2
for prog in (d, s):
    for key in ("refresh_ms", "listing_ms"):
        runs = []
        for i in range(1, 8):
            for line in open(os.path.join(out, "%s-timing-%d.txt" % (prog, i))):
                parts = line.split()
                if len(parts) == 2 and parts[0] == key:
                    runs.append(float(parts[1]))
        v[(prog, key)] = median(runs)
        v[(prog, key + "_range")] = (min(runs), max(runs))
def share(key, fastest=False):
    total, own = v[(s, key)], v[(d, key)]
    if fastest:
        total, own = v[(s, key + "_range")][0], v[(d, key + "_range")][0]
    return 100.0 * (total - own) / total if total > 0 else 0.0
steps = {}
for lib in ("double", "standin"):
    for key in ("nokey", "onekey"):
        runs = {}
        for i in range(1, 8):
            for line in open(os.path.join(out, "startup-%s-%s-%d.txt" % (lib, key, i))):
                parts = line.split()
                if len(parts) == 2 and parts[0].startswith("step_"):
                    runs.setdefault(parts[0][5:-3], []).append(float(parts[1]))
        steps[(lib, key)] = {k: median(x) for k, x in runs.items()}
        order = [k for k in runs]
settle = 1000.0
print()
print("start-up, from CreateProcess until WaitForInputIdle returns (idle) and until the main window exists")
print("and answers WM_NULL (window), against the yardstick bench_minimal_dialog (a hidden dialog from a")
print("template with a tab control, a combo box, a tree view with an image list, and a tray icon);")
print("median of 12 runs each, the programs started in turns:")
for key, what in (("nokey", "no key"), ("onekey", "one key, 2 certificates")):
    mi, ti = v[(t, "minimal_idle_%s_ms" % key)], v[(t, "tool_idle_%s_ms" % key)]
    ma, ta = v[(t, "minimal_answer_%s_ms" % key)], v[(t, "tool_answer_%s_ms" % key)]
    print("  %-24s idle:   tool %7.1f ms, yardstick %7.1f ms: %.2f x" % (what, ti, mi, ti / mi))
    print("  %-24s window: tool %7.1f ms, yardstick %7.1f ms: %.2f x" % ("", ta, ma, ta / ma))
    if key == "onekey":
        lib = steps[("standin", key)]["total"] - steps[("double", key)]["total"]
        load = v[(t, "minimal_token_idle_nokey_ms")] - v[(t, "minimal_idle_nokey_ms")]
        floor = mi + settle + lib + load
        print("  %-24s the floor with a key: yardstick + settle pause %.0f ms + the stand-in's own time" % ("", settle))
        print("  %-24s %.1f ms (its calls %.1f ms, loading it %.1f ms) = %.1f ms: the tool %.2f x"
              % ("", lib + load, lib, load, floor, ti / floor))
if (t, "minimal_dlls_idle_nokey_ms") in v:
    print("  the yardstick loading the %d DLLs the tool has loaded beyond its own: %.1f ms (+%.1f ms)"
          % (v[(t, "tool_extra_dlls_nokey")], v[(t, "minimal_dlls_idle_nokey_ms")],
             v[(t, "minimal_dlls_idle_nokey_ms")] - v[(t, "minimal_idle_nokey_ms")]))
else:
    print("  the tool has loaded no DLL beyond the yardstick's but the token library")
print("  the yardstick loading the token library (the stand-in): %.1f ms (+%.1f ms)"
      % (v[(t, "minimal_token_idle_nokey_ms")], v[(t, "minimal_token_idle_nokey_ms")] - v[(t, "minimal_idle_nokey_ms")]))
print()
print("the tool's start-up step by step, in process (bench_startup; median of 7 fresh processes each;")
print("the settle pause set to 0; stand-in minus double = the library's calls):")
print("  %-16s %10s %10s %10s %10s" % ("ms", "no key", "", "one key", ""))
print("  %-16s %10s %10s %10s %10s" % ("step", "double", "stand-in", "double", "stand-in"))
for k in order:
    print("  %-16s %10.2f %10.2f %10.2f %10.2f" % ((k,) + tuple(steps[(lib, key)][k] for key in ("nokey", "onekey")
                                                             for lib in ("double", "standin"))))
print()
print("footprint a second after start (median of 3 starts each, in turns):")
for key, what in (("nokey", "no key"), ("onekey", "one key")):
    for k, name in (("workingset", "working set"), ("private", "private memory"), ("images", "mapped images"),
                    ("modules", "modules loaded")):
        m, x = v[(t, "minimal_%s_%s" % (k, key))], v[(t, "tool_%s_%s" % (k, key))]
        unit = "" if k == "modules" else " KiB"
        div = 1 if k == "modules" else 1024
        print("  %-8s %-15s tool %9.0f%s, yardstick %9.0f%s: %.2f x" % (what, name, x / div, unit, m / div, unit, x / m))
    m, x = v[(t, "minimal_loaded_workingset_%s" % key)], v[(t, "tool_workingset_%s" % key)]
    print("  %-8s %-15s against the yardstick holding the same DLLs as the tool: %.0f KiB: %.2f x"
          % ("", "", m / 1024, x / m))
print()
print("8 keys of 6 certificates, in process; share inside the library = 1 - t(test double) / t(stand-in)")
print("(median over 7 runs of the median of 200 calls; in brackets the fastest and slowest run):")
for key, what in (("refresh_ms", "full refresh"), ("listing_ms", "certificate listing")):
    print("  %-20s stand-in %6.3f ms (%.3f-%.3f), test double %6.3f ms (%.3f-%.3f)"
          % ((what, v[(s, key)]) + v[(s, key + "_range")] + (v[(d, key)],) + v[(d, key + "_range")]))
    print("  %-20s inside the library: %4.1f %% of the medians, %4.1f %% of the fastest runs"
          % ("", share(key), share(key, True)))
print("  the refresh command sent to the real tool from another process (1 key): %.3f ms" % v[(t, "tool_refresh_ms")])
print()
print("how the objects are counted (GetGuiResources and PrivateUsage do not work under Wine 8):")
print("  GetGuiResources of the tool: USER %d, GDI %d, last error %d; PrivateUsage %d, PagefileUsage %d"
      % tuple(v[(t, k)] for k in ("sys_guiresources_user", "sys_guiresources_gdi", "sys_guiresources_error",
                                  "sys_privateusage", "sys_pagefileusage")))
print("  GDI objects   = used entries of the process's GDI handle table (PEB GdiSharedHandleTable)")
print("  windows       = the process's windows: top-level, message-only and all their children")
print("                  (the USER objects that matter here; menus, icons, cursors are not counted)")
print("  private bytes = committed MEM_PRIVATE memory of the process, summed with VirtualQueryEx")
print("  self-check, 16 pens, 4 windows and 1 MiB made then freed: GDI %+d then %+d, windows %+d then %+d, "
      "private %+d then %+d bytes"
      % tuple(v[(t, "check_" + k)] for k in ("gdi_made", "gdi_left", "windows_made", "windows_left",
                                             "private_made", "private_left")))
print()
print("what the tool holds                         GDI objects  windows  private bytes")
rows = [("real tool, after start", t, "tool_start"), ("real tool, after 10,000 refreshes", t, "tool_refreshed")]
for prog, lib in ((s, "stand-in"), (d, "test double")):
    rows += [("in process, %s, after start" % lib, prog, "inproc_start"),
             ("in process, %s, 10,000 refreshes" % lib, prog, "inproc_refreshed"),
             ("in process, %s, before cycles" % lib, prog, "inproc_precycle"),
             ("in process, %s, 1,000 cycles" % lib, prog, "inproc_cycled")]
for what, prog, key in rows:
    print("  %-42s %9d %8d %14d" % (what, v[(prog, key + "_gdi")], v[(prog, key + "_windows")], v[(prog, key + "_private")]))
print()
print("growth:")
for what, prog, base, later in (("real tool, 10,000 refreshes", t, "tool_start", "tool_refreshed"),
                                ("stand-in, 10,000 refreshes", s, "inproc_start", "inproc_refreshed"),
                                ("stand-in, 1,000 cycles", s, "inproc_precycle", "inproc_cycled"),
                                ("test double, 10,000 refreshes", d, "inproc_start", "inproc_refreshed"),
                                ("test double, 1,000 cycles", d, "inproc_precycle", "inproc_cycled")):
    g = {k: v[(prog, later + "_" + k)] - v[(prog, base + "_" + k)] for k in ("gdi", "windows", "private")}
    print("  %-30s GDI %+4d, windows %+3d, private %+10d bytes (%+.1f KiB)"
          % (what, g["gdi"], g["windows"], g["private"], g["private"] / 1024))
print("  the system's certificate store alone keeps %.0f bytes per added and deleted entry (bench_store_probe);"
      % v[(p, "store_bytes_per_add_delete")])
print("  the stand-in adds and deletes one entry per certificate of every inserted key at each key change.")
PY
