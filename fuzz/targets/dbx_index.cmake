# The third-party sample stores beside the repository are seeds too.
set(RESGUARDA_FUZZ_EXTRA_SEEDS_dbx_index ${CMAKE_SOURCE_DIR}/../shared/testdata)
resguarda_fuzz_target(dbx_index resguarda_mail)
