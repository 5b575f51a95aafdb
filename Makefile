# Shortcuts for sentrel.sh (which needs nothing but bash on a fresh machine).
.PHONY: run test clean
run:
	bash sentrel.sh run
test:
	bash sentrel.sh test
clean:
	rm -rf build build-asan build-tsan build-fuzz
