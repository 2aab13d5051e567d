"""The plan page in a real browser: Debian's chromium driven headless by selenium, against calendar-server on
a free loopback port. The server runs in Tokyo's zone and the browser in Los Angeles', so a time the page
took through the browser's zone would show up. Each test leaves PNG files in $PAGE_SHOTS.

    CALENDAR_SERVER=path PAGE_SHOTS=dir python3 plan_page_test.py [BrowserTest.test_name]
"""
import datetime
import json
import os
import select
import shutil
import socket
import subprocess
import tempfile
import time
import unittest
import urllib.error
import urllib.request
import zoneinfo

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

SERVER = os.environ.get('CALENDAR_SERVER', 'calendar-server')
SHOTS = os.environ.get('PAGE_SHOTS', 'page-shots')
SERVER_ZONE = 'Asia/Tokyo'
BROWSER_ZONE = 'America/Los_Angeles'
WAIT_S = 15

TODAY = datetime.datetime.now(zoneinfo.ZoneInfo(SERVER_ZONE)).date()


def day(n):
    return (TODAY + datetime.timedelta(days=n)).isoformat()


SUN_CALENDAR = """BEGIN:VCALENDAR\r
VERSION:2.0\r
PRODID:-//Venue//Facade//EN\r
BEGIN:VEVENT\r
UID:facade-lights\r
SUMMARY:Facade lights @sunset+30m\r
DTSTART:20260101T120000\r
RRULE:FREQ=DAILY\r
END:VEVENT\r
BEGIN:VEVENT\r
UID:morning\r
SUMMARY:Mode=Day\r
DTSTART:20260101T070500\r
RRULE:FREQ=DAILY\r
END:VEVENT\r
END:VCALENDAR\r
"""


def open_form(b):
    b.wait(lambda d: d.find_element(By.ID, 'plan-new').is_displayed(), 'the planning button')
    b.find('plan-new').click()
    b.wait(lambda d: d.find_element(By.ID, 'plan-dialog').get_attribute('open') is not None, 'the form')


class Server:
    """One calendar-server: location 1 in its database, 2 from an iCalendar file with a sun event, 3 from a
    URL that fails; or only the locations of `data`, a data document."""

    def __init__(self, folder, *extra, data=None):
        sources = data is None
        data = data or {
            'locations': [{'location_id': 1, 'name': 'Main hall', 'comment': '', 'latitude': 35.68,
                           'longitude': 139.69}],
            'variables': [
                {'variable_id': 1, 'location_id': 1, 'name': 'Mode', 'var_type': 4, 'var_data': 'Day,Night'},
                {'variable_id': 2, 'location_id': 1, 'name': 'Level', 'var_type': 1, 'var_data': ''}],
            'actions': [
                {'location_id': 1, 'name': 'Doors', 'macro': 'Doors', 'date': day(0) + 'T23:40:00',
                 'macro_action': 1, 'macro_data': ''},
                {'location_id': 1, 'name': 'Doors', 'macro': 'Doors', 'date': day(1) + 'T10:00:00',
                 'macro_action': 1, 'macro_data': ''}] + [
                # A busy half hour: a cue list.
                {'location_id': 1, 'name': 'Cue %d' % n, 'macro': 'Cue %d' % n,
                 'date': '%sT12:%02d:00' % (day(2), 5 * n), 'macro_action': 1, 'macro_data': ''}
                for n in range(1, 5)]}
        with open(os.path.join(folder, 'data.json'), 'w') as f:
            json.dump(data, f)
        args = [SERVER, '--port', '0', '--db', os.path.join(folder, 'plan.db'),
                '--data', os.path.join(folder, 'data.json'), *extra]
        if sources:
            with open(os.path.join(folder, 'facade.ics'), 'w', newline='') as f:
                f.write(SUN_CALENDAR)
            # A port that was free a moment ago and is closed now: the URL source's reads fail.
            args += ['--ics', '2=' + os.path.join(folder, 'facade.ics'), '--geo', '2=35.68,139.69',
                     '--ics', '3=http://127.0.0.1:%d/lobby.ics' % self._free_port()]
        env = dict(os.environ, TZ=SERVER_ZONE)
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=open(
            os.path.join(folder, 'server.log'), 'w'), env=env)
        ready, _, _ = select.select([self.proc.stdout], [], [], WAIT_S)
        line = self.proc.stdout.readline().decode().strip() if ready else ''
        if not line.startswith('http://'):
            self.stop()
            raise RuntimeError('calendar-server did not start: ' + line)
        # Listening beyond loopback, it still answers on loopback: the tests talk to nothing else.
        self.url = 'http://127.0.0.1:' + line.rsplit(':', 1)[1]

    @staticmethod
    def _free_port():
        s = socket.socket()
        s.bind(('127.0.0.1', 0))
        port = s.getsockname()[1]
        s.close()
        return port

    def request(self, method, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        req = urllib.request.Request(self.url + path, data=data, method=method,
                                     headers={'Content-Type': 'application/json'} if data else {})
        try:
            with urllib.request.urlopen(req, timeout=WAIT_S) as res:
                return res.status, json.loads(res.read() or b'null')
        except urllib.error.HTTPError as e:
            text = e.read()
            return e.code, json.loads(text) if text else None

    def actions(self, location, date):
        """The plug-in's request for one day."""
        status, answer = self.request('GET', '/apiv1/calendar/%d/actions?date=%s' % (location, date))
        assert status == 200, (status, answer)
        return answer['calendaractions']

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class Browser:
    """Headless chromium in the browser zone, with a fresh profile."""

    def __init__(self, width=1280, height=800, dark=False):
        self.profile = tempfile.mkdtemp(prefix='plan-page-chromium-')
        options = webdriver.ChromeOptions()
        options.binary_location = shutil.which('chromium') or '/usr/bin/chromium'
        for flag in ('--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                     '--disable-background-networking', '--disable-component-update', '--disable-sync',
                     '--user-data-dir=' + self.profile, '--window-size=%d,%d' % (width, height)):
            options.add_argument(flag)
        service = Service(shutil.which('chromedriver') or '/usr/bin/chromedriver',
                          env=dict(os.environ, TZ=BROWSER_ZONE))
        self.driver = webdriver.Chrome(service=service, options=options)
        self.driver.set_page_load_timeout(WAIT_S)
        self.driver.execute_cdp_cmd('Emulation.setTimezoneOverride', {'timezoneId': BROWSER_ZONE})
        self.driver.execute_cdp_cmd('Emulation.setEmulatedMedia', {'features': [
            {'name': 'prefers-color-scheme', 'value': 'dark' if dark else 'light'}]})
        if width < 700:
            self.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {
                'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': True})

    def open(self, server, location=1, view='today'):
        self.driver.get('%s/?view=%s#%d' % (server.url, view, location))
        self.wait(lambda d: d.execute_script('return document.readyState') == 'complete')

    def wait(self, condition, what='the page'):
        return WebDriverWait(self.driver, WAIT_S).until(condition, 'waited in vain for ' + what)

    def find(self, element_id):
        return self.driver.find_element(By.ID, element_id)

    def text(self, element_id):
        return self.find(element_id).text

    def wait_text(self, element_id, needle):
        self.wait(lambda d: needle in d.find_element(By.ID, element_id).text, repr(needle) + ' in #' + element_id)

    def set_value(self, element_id, value):
        # Date and time inputs take keys in the browser's locale; the value itself is the same everywhere.
        self.driver.execute_script(
            "const e = document.getElementById(arguments[0]); e.value = arguments[1];"
            "e.dispatchEvent(new Event('change', {bubbles: true}));", element_id, value)

    def shot(self, name):
        os.makedirs(SHOTS, exist_ok=True)
        self.driver.save_screenshot(os.path.join(SHOTS, name + '.png'))

    def quit(self):
        self.driver.quit()
        shutil.rmtree(self.profile, ignore_errors=True)


class BrowserTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix='plan-page-')
        cls.server = Server(cls.folder)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.folder, ignore_errors=True)

    def browser(self, **kw):
        b = Browser(**kw)
        self.addCleanup(b.quit)
        return b

    def assert_page_day_is_plugin_day(self, b, location):
        """The page's day and the plug-in's answer for it agree action for action, in the server's times."""
        rows = [r.text for r in b.driver.find_elements(By.CSS_SELECTOR, '#agenda .item')]
        plugin = self.server.actions(location, day(0))
        self.assertEqual(len(rows), len(plugin), rows)
        for row, action in zip(rows, plugin):
            self.assertTrue(row.startswith(action['date'][11:16]), (row, action))
            self.assertIn(action['name'], row)
        return plugin

    def test_today_in_server_zone(self):
        status, _ = self.server.request('POST', '/apiv1/plan/1', {
            'name': 'Facade lights', 'date': day(0), 'sun': {'event': 'sunset', 'offset': '+30m'},
            'macro_action': 1, 'macro': 'Facade lights', 'macro_data': ''})
        self.assertEqual(status, 201)
        b = self.browser()
        b.open(self.server)
        b.wait_text('agenda', '@sunset+30m →')
        _, status = self.server.request('GET', '/apiv1/status')
        offset = status['offset_minutes']
        self.assertIn('%s (UTC%+03d:%02d)' % (status['zone'], offset // 60, offset % 60), b.text('zone'))
        self.assertIn(TODAY.strftime('%B ') + str(TODAY.day), b.text('today-title'))
        self.assertIn('23:40', b.text('agenda'))
        plugin = self.assert_page_day_is_plugin_day(b, 1)
        sunset = next(a for a in plugin if a['name'] == 'Facade lights')
        self.assertIn('@sunset+30m → ' + sunset['date'][11:16], b.text('agenda'))
        b.shot('today-database-light')

        # The iCalendar location: its sun event's time from the same engine, read-only.
        b.open(self.server, location=2)
        b.wait_text('source-info', 'Read-only')
        self.assert_page_day_is_plugin_day(b, 2)
        self.assertFalse(b.find('plan-new').is_displayed())
        b.shot('today-icalendar-sun')

    def test_repeat_added_through_form_reaches_plugin(self):
        b = self.browser()
        b.open(self.server)
        open_form(b)
        b.find('f-name').send_keys('Night mode')
        b.set_value('f-date', day(0))
        b.set_value('f-time', '21:15')
        b.set_value('f-repeat', 'weekly')
        weekday = ['MO', 'TU', 'WE', 'TH', 'FR', 'SA', 'SU'][TODAY.weekday()]
        b.driver.find_element(By.CSS_SELECTOR, '.days input[value="%s"]' % weekday).click()
        b.set_value('f-end', 'count')
        b.set_value('f-count', '4')
        b.find('f-action-var').click()
        b.set_value('f-variable', 'Mode')
        b.wait(lambda d: d.find_element(By.ID, 'f-value-choice').is_displayed(), 'the enumeration values')
        b.set_value('f-value-choice', 'Night')
        b.shot('form-light')
        b.find('plan-save').click()
        b.wait(lambda d: d.find_element(By.ID, 'plan-dialog').get_attribute('open') is None, 'the form to close')

        night = {'name': 'Night mode', 'macro': 'Mode', 'macro_action': 2, 'macro_data': 'Night',
                 'date': day(7) + 'T21:15:00'}
        self.assertIn(night, self.server.actions(1, day(7)))
        self.assertNotIn('Night mode', [a['name'] for a in self.server.actions(1, day(28))])
        b.wait_text('agenda', 'set Mode = Night')

        # Today's occurrence skipped: gone from the plug-in's day, struck through on the page, the rest kept.
        b.driver.find_element(By.CSS_SELECTOR, '#agenda [aria-label="Skip Night mode on %s"]' % day(0)).click()
        b.wait(lambda d: d.find_elements(By.CSS_SELECTOR, '#agenda .item.struck'), 'the skipped occurrence')
        self.assertIn('skipped', b.driver.find_element(By.CSS_SELECTOR, '#agenda .item.struck').text)
        self.assertNotIn('Night mode', [a['name'] for a in self.server.actions(1, day(0))])
        self.assertIn(night, self.server.actions(1, day(7)))
        b.driver.find_element(By.CSS_SELECTOR, '.tabs [data-view="week"]').click()
        b.wait(lambda d: d.find_elements(By.CSS_SELECTOR, '#week .fc-event'), 'the week grid')
        b.shot('week-light')

    def test_busy_half_hour_is_one_entry_opening_its_day(self):
        b = self.browser()
        b.open(self.server, view='week')
        if TODAY.weekday() >= 5:  # the day after tomorrow is in the next week
            b.wait(lambda d: d.find_elements(By.CSS_SELECTOR, '#week .fc-next-button'), 'the week grid')
            b.driver.find_element(By.CSS_SELECTOR, '#week .fc-next-button').click()
        entry = b.wait(lambda d: [e for e in d.find_elements(By.CSS_SELECTOR, '#week .fc-event.group')
                                  if '4 actions' in e.text], 'the busy half hour')[0]
        entry.send_keys('\n')
        b.wait_text('list-body', 'Cue 4')
        self.assertEqual(b.find('list-start').get_attribute('value'), day(2))
        self.assertEqual(len(b.driver.find_elements(By.CSS_SELECTOR, '#list-body tr')), 4)

    def test_closed_day_missing_for_plugin_and_struck_on_page(self):
        self.assertIn('Doors', [a['name'] for a in self.server.actions(1, day(1))])
        b = self.browser(dark=True)
        b.open(self.server, view='closed')
        b.set_value('c-start', day(1))
        b.find('c-label').send_keys('Private event')
        b.driver.find_element(By.CSS_SELECTOR, '#closed-form button[type="submit"]').click()
        b.wait_text('closed-list', 'Private event')
        self.assertEqual(self.server.actions(1, day(1)), [])
        b.shot('closed-days-dark')

        b.driver.find_element(By.CSS_SELECTOR, '.tabs [data-view="list"]').click()
        b.set_value('list-start', day(0))
        b.set_value('list-end', day(2))
        b.driver.find_element(By.CSS_SELECTOR, '#list-form button[type="submit"]').click()
        b.wait_text('list-body', 'closed: Private event')
        struck = b.driver.find_element(By.CSS_SELECTOR, '#list-body tr.struck')
        self.assertIn(day(1), struck.text)
        self.assertIn('line-through', struck.find_element(By.CSS_SELECTOR, 'td').value_of_css_property(
            'text-decoration-line'))
        b.shot('list-closed-dark')

    def test_failing_url_source_red_and_health_503(self):
        b = self.browser(width=390, height=844)
        b.open(self.server)
        b.wait(lambda d: d.find_elements(By.CSS_SELECTOR, '#trouble .trouble-item'), 'the sources in trouble')
        banners = b.driver.find_elements(By.CSS_SELECTOR, '#trouble .trouble-item')
        self.assertEqual(len(banners), 1)
        _, status = self.server.request('GET', '/apiv1/status')
        lobby = next(loc for loc in status['locations'] if loc['location_id'] == 3)
        self.assertIn(lobby['name'], banners[0].text)
        self.assertIn(lobby['source']['last_error'], banners[0].text)
        banner = banners[0]
        red, green, blue = [int(x) for x in banner.value_of_css_property('color')[5:-1].split(',')[:3]]
        self.assertGreater(red, 2 * max(green, blue))
        status, health = self.server.request('GET', '/health')
        self.assertEqual(status, 503)
        self.assertEqual(health['status'], 'trouble')
        width = b.driver.execute_script('return document.documentElement.scrollWidth')
        self.assertLessEqual(width, 390)
        b.shot('today-phone-trouble')
        b.driver.find_element(By.CSS_SELECTOR, '.tabs [data-view="week"]').click()
        b.wait(lambda d: d.find_elements(By.CSS_SELECTOR, '#week .fc-list-event'), 'the week as a list')
        self.assertLessEqual(b.driver.execute_script('return document.documentElement.scrollWidth'), 390)
        b.shot('week-phone')

        # The failing location itself: its refusal is shown, and nothing of the previous location stays.
        b.driver.execute_script("window.location.hash = '3'")
        b.wait(lambda d: 'bad' in d.find_element(By.ID, 'message').get_attribute('class'), 'the refusal')
        self.assertEqual(b.driver.find_elements(By.CSS_SELECTOR, '#week .fc-event'), [])

    def test_refused_field_shown_beside_it(self):
        _, before = self.server.request('GET', '/apiv1/plan/1')
        b = self.browser(dark=True)
        b.open(self.server)
        open_form(b)
        b.find('f-name').send_keys('Far ahead')
        b.set_value('f-date', (TODAY + datetime.timedelta(days=1000)).isoformat())
        b.set_value('f-time', '10:00')
        b.find('f-task').send_keys('Doors')
        b.find('plan-save').click()
        b.wait(lambda d: d.find_element(By.ID, 'err-date').text, 'the date refused')
        beside = b.driver.find_element(By.CSS_SELECTOR, '.field:has(#f-date) #err-date')
        self.assertTrue(beside.is_displayed())
        self.assertEqual(b.find('f-date').get_attribute('aria-invalid'), 'true')
        self.assertIsNotNone(b.find('plan-dialog').get_attribute('open'))
        _, after = self.server.request('GET', '/apiv1/plan/1')
        self.assertEqual(before, after)
        b.shot('form-refused-dark')


class BrowserLoginTest(unittest.TestCase):
    def test_write_needs_login_beyond_loopback(self):
        folder = tempfile.mkdtemp(prefix='plan-page-login-')
        self.addCleanup(shutil.rmtree, folder, True)
        subprocess.run([SERVER, '--db', os.path.join(folder, 'plan.db'), '--set-password'],
                       input=b'stage door\n', check=True, timeout=WAIT_S, env=dict(os.environ, TZ=SERVER_ZONE))
        server = Server(folder, '--bind', '0.0.0.0', '--allow-from', '127.0.0.1')
        self.addCleanup(server.stop)
        _, before = server.request('GET', '/apiv1/plan/1')
        status, _ = server.request('POST', '/apiv1/plan/1', {
            'name': 'Unlogged', 'date': day(0), 'time': '10:00', 'macro_action': 1, 'macro': 'Doors',
            'macro_data': ''})
        self.assertEqual(status, 401)
        b = Browser()
        self.addCleanup(b.quit)
        b.open(server)
        b.wait(lambda d: d.find_element(By.ID, 'login-open').is_displayed(), 'the login button')
        open_form(b)
        b.find('f-name').send_keys('Logged')
        b.set_value('f-time', '10:00')
        b.find('f-task').send_keys('Doors')
        b.find('plan-save').click()
        b.wait(lambda d: d.find_element(By.ID, 'login-dialog').get_attribute('open') is not None, 'the login')
        _, after = server.request('GET', '/apiv1/plan/1')
        self.assertEqual(before, after)
        b.shot('login-light')

        # A wrong password is refused beside the field; the right one lets the same form save.
        b.find('login-password').send_keys('stage')
        b.find('login-submit').click()
        b.wait(lambda d: d.find_element(By.ID, 'err-password').text, 'the wrong password refused')
        b.find('login-password').clear()
        b.find('login-password').send_keys('stage door')
        b.find('login-submit').click()
        b.wait(lambda d: d.find_element(By.ID, 'logout').is_displayed(), 'the log-out button')
        b.find('plan-save').click()
        b.wait_text('agenda', 'Logged')
        self.assertIn('Logged', [a['name'] for a in server.actions(1, day(0))])

        b.find('logout').click()
        b.wait(lambda d: d.find_element(By.ID, 'login-open').is_displayed(), 'the login button again')


if __name__ == '__main__':
    unittest.main()
