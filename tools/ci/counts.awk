# Reads a step's output and prints "PASSED FAILED SKIPPED" for it. The first kind found decides:
#   1. the step's own closing line "N passed, N failed, N skipped" (the last one counts, and only when no
#      CTest summary follows it: a failing test's output that CTest shows is not the step's);
#   2. CTest's summaries ("N% tests passed, N tests failed out of N" and its "did not run" list), summed;
#   3. GoogleTest's "[  PASSED  ] N tests." / "[  FAILED  ] N tests" / "[  SKIPPED ] N tests", summed.
# Nothing found prints nothing: the caller counts the step by its exit status alone.
/^[0-9]+ passed, [0-9]+ failed, [0-9]+ skipped$/ {
    own = NR; own_p = $1; own_f = $3; own_s = $5; next
}
/^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+$/ {
    ctest = NR; ct_total += $NF; ct_failed += $4; listing = 0; next
}
/^The following tests did not run:$/ { listing = 1; next }
listing && /\((Skipped|Disabled)\)$/ { if ($0 ~ /\(Skipped\)$/) ct_skipped_run++; ct_skipped++; next }
listing { listing = 0 }
/^\[  PASSED  \] [0-9]+ tests?\.$/ { gtest = 1; gt_p += $4; next }
/^\[  FAILED  \] [0-9]+ tests?, listed below:$/ { gtest = 1; gt_f += $4; next }
/^\[  SKIPPED \] [0-9]+ tests?, listed below:$/ { gtest = 1; gt_s += $4; next }
END {
    # CTest counts a skipped test among the passed ones, a disabled one not at all.
    if (own > ctest) print own_p + 0, own_f + 0, own_s + 0
    else if (ctest) print ct_total - ct_failed - ct_skipped_run, ct_failed + 0, ct_skipped + 0
    else if (gtest) print gt_p + 0, gt_f + 0, gt_s + 0
}
