// A header of the scan, which the editing session does not need.
