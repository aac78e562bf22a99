"""The Python package against the real driver, VarnSrv and the emulator."""

import datetime
import os
import subprocess
import sys

import pytest

from conftest import TREE, paper_with

import varn


def run_python(code_or_file, env=None):
    args = [sys.executable, code_or_file] if code_or_file.endswith(".py") else \
        [sys.executable, "-c", code_or_file]
    full = dict(os.environ, PYTHONPATH=str(TREE / "python"))
    full.update(env or {})
    return subprocess.run(args, env=full, capture_output=True, text=True, timeout=120)


def test_receipt_example_and_russian_names_print_on_the_paper(emulator):
    done = run_python(str(TREE / "python" / "examples" / "receipt.py"))
    assert done.returncode == 0, done.stderr
    assert "printed" in done.stdout
    paper = paper_with(emulator, "[barcode] 460123456789")
    assert "[bold] ООО «Ромашка»\nКассовый чек № 1\nХлеб              1 x 45.00\n" in paper
    assert "[bold] ИТОГ          224.80\n[font 3] Спасибо за покупку!\n" in paper

    with varn.Driver() as d:
        assert d.УстановитьСвязь() == 0 and d.Результат == 0
        d.СтрокаДляПечати = "Строка по-русски"
        assert d.ПечатьСтроки() == 0
        d.stringforprinting = "строка в нижнем регистре"
        assert d.printstring() == 0
        assert d.ResultCode == 0 and isinstance(d.ResultCodeDescription, str)
        assert d.ResultCodeDescription == d.ОписаниеРезультата
    paper = paper_with(emulator, "строка в нижнем регистре")
    assert "Строка по-русски\nстрока в нижнем регистре\n" in paper


def test_types_bytes_names_and_errors(emulator):
    d = varn.Driver()
    assert d.GetECRStatus() == 0
    assert isinstance(d.ECRModeDescription, str) and d.ECRModeDescription
    assert isinstance(d.ECRSoftDate, datetime.date) and d.ECRSoftDate.year >= 2000
    assert isinstance(d.PowerSourceVoltage, float)
    assert isinstance(d.IsDrawerOpen, bool)
    d.StringQuantity = 7
    assert d.StringQuantity == 7 and type(d.StringQuantity) is int
    d.StringQuantity = "+8"  # text converts as varn converts it
    assert d.StringQuantity == 8
    d.FieldType = True
    assert d.FieldType is True
    d.FieldType = False
    assert d.FieldType is False

    d.StringForPrinting = b"\x02\x01\xc0\xff"  # one character per byte
    assert d.StringForPrinting == "\x02\x01Ая"
    assert d.get_bytes("StringForPrinting") == b"\x02\x01\xc0\xff"
    long_text = "Ж" * 1000  # longer than the first buffer tried
    d.StringForPrinting = long_text
    assert d.StringForPrinting == long_text

    names = dir(d)
    assert "PrintString" in names and "ПечатьСтроки" in names and "close" in names
    by_name = {(m.name, m.kind): m for m in d.members()}
    assert by_name[("PrintString", "method")].help == "ПечатьСтроки"
    assert by_name[("ECRSoftDate", "get")].type == "date"
    assert ("ECRSoftDate", "put") not in by_name
    assert d.PrintString.__doc__ == "ПечатьСтроки"

    with pytest.raises(varn.UnknownName, match="did you mean PrintString"):
        d.PrintStrng()
    with pytest.raises(AttributeError):
        d.StringForPrintng = "x"
    assert not hasattr(d, "NoSuchThing")
    with pytest.raises(varn.WrongKind):
        d.ECRModeDescription = "x"
    with pytest.raises(varn.WrongKind):
        d.PrintString = "x"
    with pytest.raises(varn.ConversionError, match='"три" is not an integer'):
        d.StringQuantity = "три"
    with pytest.raises(varn.ConversionError):
        d.StringQuantity = 2.5
    with pytest.raises(varn.ConversionError):
        d.StringQuantity = 2**70
    with pytest.raises(varn.ConversionError):
        d.StringQuantity = [1]
    with pytest.raises(ValueError):
        d.LoadBitmap()  # it takes a file
    assert d.StringQuantity == 8  # nothing of that was set
    d.close()


def test_strict_mode_and_failures_that_are_results(emulator, tmp_path):
    missing = tmp_path / "logo.bmp"
    with varn.Driver() as d:
        assert d.GetECRStatus() == 0
        assert d.LoadBitmap(missing) == -8  # the default mirrors the driver
        assert d.ResultCode == -8
    with varn.Driver(strict=True) as d:
        assert d.GetECRStatus() == 0
        with pytest.raises(varn.DriverError) as e:
            d.LoadBitmap(str(missing))
        assert (e.value.method, e.value.code) == ("LoadBitmap", -8)
        assert e.value.description and e.value.description == d.ResultCodeDescription
        # A port that leads nowhere is the device's failure, told as a result.
        d.Disconnect()
        d.ComNumber = 9
        try:
            with pytest.raises(varn.DriverError) as e:
                d.Connect()
            assert e.value.method == "Connect" and e.value.code < 0
        finally:
            d.ComNumber = 1
        assert d.Connect() == 0


def test_a_closed_object_raises(emulator):
    with varn.Driver() as d:
        assert d.GetECRStatus() == 0
        method = d.Beep
    assert d.closed
    for use in (lambda: d.ResultCode, lambda: d.GetECRStatus(), method,
                lambda: setattr(d, "StringQuantity", 1), lambda: d.get_bytes("BarCode")):
        with pytest.raises(varn.ClosedError):
            use()
    d.close()  # twice is fine


def test_a_missing_library_or_driver_is_driver_not_found(tmp_path):
    gone = run_python(
        "import varn\n"
        "try:\n"
        "    varn.Driver()\n"
        "except varn.DriverNotFound as e:\n"
        "    print('not found:', e)\n",
        env={"VARN_LIBRARY": str(tmp_path / "libvarn.so")})
    assert gone.returncode == 0, gone.stderr
    assert "not found: libvarn.so not found (VARN_LIBRARY)" in gone.stdout
    assert str(tmp_path / "libvarn.so") in gone.stdout

    with pytest.raises(varn.DriverNotFound, match="Nowhere.Nothing"):
        varn.Driver("Nowhere.Nothing")
