import tarvex


def test_module_imports_with_its_name():
    assert tarvex.__name__ == "tarvex"
    assert tarvex.__doc__ == ""
