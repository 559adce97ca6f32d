# The third-party sample stores beside the repository are seeds too.
set(RESGUARDA_FUZZ_EXTRA_SEEDS_dbx_text ${CMAKE_SOURCE_DIR}/../shared/testdata)
resguarda_fuzz_target(dbx_text resguarda_mail)
