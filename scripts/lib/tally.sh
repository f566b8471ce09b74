# The closing tally of scripts/test. Source it.
#
#   tally LOG   prints how many tests passed in the run LOG records: every CTest summary ("... tests failed
#               out of N") and every unprivileged run's "As USER: N passed". A run by an ordinary user has
#               no unprivileged run of its own (its tests ran as that user already): it counts nothing there.
tally() {
  awk '/tests failed out of [0-9]+$/ { sum += $NF }
       /^As [a-z_][a-z0-9_-]*: [0-9]+ passed/ { sum += $3 }
       END { print sum + 0 }' "$1"
}
