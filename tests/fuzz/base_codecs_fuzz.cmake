set(FUZZ_LIBS zrbase)
